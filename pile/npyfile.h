#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// NumPy's .npy format for 2-D piles: any integer array in, bytes out.
class NpyFile
{
public:
    // A file that is not a 2-D integer array; the message names the file.
    struct Malformed : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    struct Array {
        int width = 0, height = 0;              // columns, rows
        std::vector<std::int64_t> values;      // row by row
    };

    // Reads a 2-D array of integers of 1 to 8 bytes, either byte order,
    // either memory order; `beforeData(width, height)` is called once the
    // header is read, before the data (to refuse what cannot be held).
    // Throws Malformed, or std::runtime_error when the file cannot be read.
    static Array read(const std::string &path, const std::function<void(int, int)> &beforeData = {});
    // The .npy bytes of a 2-D array of bytes, row by row.
    static std::string encode(const std::vector<std::uint8_t> &values, int width, int height);
};
