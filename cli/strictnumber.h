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

// Whether the text is digits only, however many.
inline bool allDigits(const std::string &text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// "" when the text is a whole number from low to high, else what an option
// taking it says: "needs a whole number from 1 to 256, not 'abc'".
inline std::string wholeFault(const std::string &text, std::int64_t low, std::int64_t high)
{
    std::int64_t value = 0;
    if (parseWhole(text, value) && value >= low && value <= high)
        return {};
    return "needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ", not '" + text + "'";
}
