#include "npyfile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>

namespace {

const std::string MAGIC = "\x93NUMPY";

// The value of `key` in the header's dictionary, or "".
std::string entry(const std::string &header, const std::string &key, const std::string &pattern)
{
    std::smatch match;
    const std::regex re("'" + key + "'\\s*:\\s*(" + pattern + ")");
    return std::regex_search(header, match, re) ? match[1].str() : std::string();
}

} // namespace

NpyFile::Array NpyFile::read(const std::string &path, const std::function<void(int, int)> &beforeData)
{
    const auto cannotRead = [&](const std::string &why) { return std::runtime_error("cannot read " + path + ": " + why); };
    if (std::filesystem::is_directory(path))
        throw cannotRead("it is a folder");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw cannotRead(std::strerror(errno));
    const auto malformed = [&](const std::string &why) { return Malformed(path + " is not a 2-D integer .npy array: " + why); };
    // Reads exactly `count` bytes, or fewer at the end of the file.
    const auto take = [&](std::size_t count) {
        std::string bytes(count, '\0');
        in.read(bytes.data(), std::streamsize(count));
        if (in.bad())
            throw cannotRead(std::strerror(errno));
        bytes.resize(std::size_t(in.gcount()));
        return bytes;
    };

    const std::string lead = take(8);
    if (lead.size() < 8 || lead.compare(0, MAGIC.size(), MAGIC) != 0)
        throw malformed("no .npy signature");
    const int major = static_cast<unsigned char>(lead[6]);
    if (major < 1 || major > 3)
        throw malformed("unknown format version " + std::to_string(major));
    const std::string lengthBytes = take(major == 1 ? 2 : 4);
    std::size_t headerLength = 0;
    for (std::size_t i = 0; i < lengthBytes.size(); ++i)
        headerLength |= std::size_t(static_cast<unsigned char>(lengthBytes[i])) << (8 * i);
    if (lengthBytes.size() < (major == 1 ? 2u : 4u) || headerLength > (1u << 20))
        throw malformed("its header is cut short or too long");
    const std::string header = take(headerLength);
    if (header.size() < headerLength)
        throw malformed("the header runs past the end");

    const std::string descr = entry(header, "descr", "'[<>|=][iub][1248]'");
    const std::string fortran = entry(header, "fortran_order", "True|False");
    const std::string shape = entry(header, "shape", "\\(\\s*\\d+\\s*,\\s*\\d+\\s*,?\\s*\\)");
    if (descr.empty())
        throw malformed("its elements are not integers");
    if (fortran.empty() || shape.empty())
        throw malformed("its shape is not that of a 2-D array");
    const char order = descr[1], kind = descr[2];
    const std::size_t size = std::size_t(descr[3] - '0');
    if (kind == 'b' && size != 1)
        throw malformed("its elements are not integers");
    std::smatch dims;
    const std::string shapeText = shape;
    std::regex_search(shapeText, dims, std::regex("(\\d+)\\s*,\\s*(\\d+)"));
    const std::string rowsText = dims[1].str(), columnsText = dims[2].str();
    if (rowsText.size() > 6 || columnsText.size() > 6)
        throw malformed("its shape is too large");
    const std::size_t rows = std::stoul(rowsText), columns = std::stoul(columnsText);
    if (rows > std::size_t(std::numeric_limits<int>::max()) || columns > std::size_t(std::numeric_limits<int>::max()))
        throw malformed("its shape is too large");
    if (beforeData)
        beforeData(int(columns), int(rows));
    const std::string bytes = take(rows * columns * size + 1);   // one more: nothing may follow
    if (bytes.size() != rows * columns * size)
        throw malformed("it holds " + std::string(bytes.size() > rows * columns * size ? "more" : "fewer") + " bytes of data than "
                        + rowsText + " x " + columnsText + " elements of " + std::to_string(size) + " bytes");
    const bool bigEndian = order == '>';
    Array array{int(columns), int(rows), std::vector<std::int64_t>(rows * columns)};
    for (std::size_t at = 0; at < rows * columns; ++at) {
        std::uint64_t raw = 0;
        for (std::size_t i = 0; i < size; ++i) {
            const auto byte = std::uint64_t(static_cast<unsigned char>(bytes[at * size + i]));
            raw |= byte << (8 * (bigEndian ? size - 1 - i : i));
        }
        std::int64_t value = 0;
        if (kind == 'i' && size < 8 && (raw >> (8 * size - 1)) != 0)
            value = std::int64_t(raw) - (std::int64_t(1) << (8 * size));   // sign-extended
        else if (kind == 'u' && raw > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            throw malformed("an element is above 2^63 - 1");
        else
            value = std::int64_t(raw);
        // Memory order: row by row, or (Fortran's) column by column.
        const std::size_t row = fortran == "True" ? at % rows : at / columns;
        const std::size_t column = fortran == "True" ? at / rows : at % columns;
        array.values[row * columns + column] = value;
    }
    return array;
}

std::string NpyFile::encode(const std::vector<std::uint8_t> &values, int width, int height)
{
    std::string header = "{'descr': '|u1', 'fortran_order': False, 'shape': (" + std::to_string(height) + ", "
                         + std::to_string(width) + "), }";
    // Magic, version, length, header and its newline: a multiple of 64 bytes.
    header.append(63 - (10 + header.size()) % 64, ' ');
    header += '\n';
    std::string bytes = MAGIC + '\x01' + '\x00';
    bytes += char(header.size() & 0xff);
    bytes += char(header.size() >> 8);
    bytes += header;
    bytes.append(values.begin(), values.end());
    return bytes;
}
