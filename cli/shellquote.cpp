#include "shellquote.h"

#include <cstdio>

namespace {

bool harmless(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
           || std::string("_@%+=:,./-").find(c) != std::string::npos;
}

bool control(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

} // namespace

std::string shellQuote(const std::string &text)
{
    bool plain = !text.empty();
    for (const char c : text)
        plain = plain && harmless(c);
    if (plain)
        return text;
    // Runs of printable characters in '...', each control character in $'\xHH'.
    std::string quoted;
    bool open = false;
    for (const char c : text) {
        if (control(c)) {
            if (open)
                quoted += '\'';
            open = false;
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
            quoted += c == '\n' ? std::string("$'\\n'") : c == '\t' ? std::string("$'\\t'") : "$'" + std::string(escape) + "'";
            continue;
        }
        if (!open)
            quoted += '\'';
        open = true;
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    if (open || quoted.empty())
        quoted += open ? "'" : "''";
    return quoted;
}
