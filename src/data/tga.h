// The TGA loader: uncompressed true-colour pictures of 24 or 32 bits.
#pragma once
#include <memory>

#include "platform/windows_headers.h"

#include "data/pixmap.h"

// A new pixmap owned by the caller; throws CException naming the path on failure.
std::unique_ptr<CPixmap> LoadImage(const char* path);
