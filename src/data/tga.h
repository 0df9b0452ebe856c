// The TGA loader: uncompressed true-colour pictures of 24 or 32 bits.
#pragma once
#include <memory>

#ifdef _WIN32
// windows.h would rename LoadImage; take it in first and drop that macro for good.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef LoadImage
#endif

#include "data/pixmap.h"

// A new pixmap owned by the caller; throws CException naming the path on failure.
std::unique_ptr<CPixmap> LoadImage(const char* path);
