#pragma once

#include <charconv>
#include <cstdint>
#include <string>

// Reads a whole non-negative decimal number: digits only, no sign, no
// spaces, nothing after it, and no overflow.
inline bool parseWhole(const std::string &text, std::int64_t &value)
{
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return false;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}
