#pragma once

#include <string>

// A name as the shell would quote it, so that a report line holding a file
// name is one line and can be pasted back: as it is when only harmless
// characters make it up, else in single quotes, with $'...' for control
// characters (a newline in a name becomes $'\n').
std::string shellQuote(const std::string &text);
