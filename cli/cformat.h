#pragma once

#include <string>

// printf into a string, always with the C locale's numbers ("0.957", never
// "0,957"), whatever locale the program or a library has set: every file
// and report the tool writes reads the same under any locale. The attribute
// lets GCC and Clang check the arguments against the pattern.
std::string cformat(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
