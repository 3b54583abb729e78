#include "cformat.h"

#include <algorithm>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <locale.h>

namespace {
// The C locale, made once; uselocale() switches only the calling thread.
locale_t cLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}
} // namespace

std::string cformat(const char *pattern, ...)
{
    const locale_t previous = uselocale(cLocale());
    va_list arguments, copy;
    va_start(arguments, pattern);
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::string text(std::size_t(std::max(length, 0)) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), pattern, arguments);
    va_end(arguments);
    uselocale(previous);
    text.pop_back();
    return text;
}
