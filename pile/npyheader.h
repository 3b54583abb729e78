#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The header of a .npy file, read as numpy.load reads it: a Python dict
// literal (either quote style, comments, a trailing comma, a repeated key
// keeping its last value) with exactly the keys 'descr', 'fortran_order'
// and 'shape'. Parsed token by token with bounded nesting, so no header,
// however crafted, can exhaust the stack.
class NpyHeader
{
public:
    // A header numpy.load would refuse, or one that is not of an integer
    // array; the message says why in a few words.
    struct Malformed : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // NumPy refuses longer headers unless told to trust the file.
    static constexpr std::size_t MAX_LENGTH = 10000;

    char kind = 'i';               // 'i', 'u' or 'b' (bool)
    std::size_t itemBytes = 1;     // 1, 2, 4 or 8
    bool bigEndian = false;
    bool fortranOrder = false;
    std::vector<std::uint64_t> shape;

    // `major` is the format's version, 1 to 3; the first two may carry the
    // long integers ("3L") that old writers made.
    static NpyHeader parse(const std::string &text, int major);
};
