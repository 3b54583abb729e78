#pragma once

#include <string>

// printf into a string, always with the C locale's numbers ("0.957", never
// "0,957"), whatever locale the program or a library has set: every file
// and report the tool writes reads the same under any locale.
std::string cformat(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
