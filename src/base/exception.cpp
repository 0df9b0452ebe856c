#include "base/exception.h"

#include <cstdarg>
#include <cstdio>

CException::CException(const char* format, ...) : text(new char[kTextSize]) {
    va_list args;
    va_start(args, format);
    // vsnprintf cuts a longer message to kTextSize - 1 characters and always terminates.
    int written = std::vsnprintf(text.get(), kTextSize, format, args);
    va_end(args);
    if (written < 0)
        text[0] = '\0';
}
