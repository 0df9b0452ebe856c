// The one exception type of the program: a formatted message of at most
// 1023 characters, owned by exactly one object at a time.
#pragma once
#include <memory>

class CException {
public:
    static constexpr int kTextSize = 1024;

#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    explicit CException(const char* format, ...);

    CException(CException&&) noexcept = default;
    CException& operator=(CException&&) noexcept = default;
    CException(const CException&) = delete;
    CException& operator=(const CException&) = delete;

    // Null only in an object whose text has been moved away.
    const char* Text() const {
        return text.get();
    }

private:
    std::unique_ptr<char[]> text;
};
