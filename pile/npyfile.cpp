#include "npyfile.h"
#include "npyheader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {

const std::string MAGIC = "\x93NUMPY";

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
    const int major = static_cast<unsigned char>(lead[6]), minor = static_cast<unsigned char>(lead[7]);
    if (major < 1 || major > 3 || minor != 0)
        throw malformed("unknown format version " + std::to_string(major) + "." + std::to_string(minor));
    const std::string lengthBytes = take(major == 1 ? 2 : 4);
    std::size_t headerLength = 0;
    for (std::size_t i = 0; i < lengthBytes.size(); ++i)
        headerLength |= std::size_t(static_cast<unsigned char>(lengthBytes[i])) << (8 * i);
    if (lengthBytes.size() < (major == 1 ? 2u : 4u))
        throw malformed("its header is cut short");
    if (headerLength > NpyHeader::MAX_LENGTH)
        throw malformed("its header is longer than the " + std::to_string(NpyHeader::MAX_LENGTH) + " bytes NumPy reads");
    const std::string text = take(headerLength);
    if (text.size() < headerLength)
        throw malformed("the header runs past the end");

    NpyHeader header;
    try {
        header = NpyHeader::parse(text, major);
    } catch (const NpyHeader::Malformed &error) {
        throw malformed(error.what());
    }
    if (header.shape.size() != 2)
        throw malformed("its shape is not that of a 2-D array");
    const std::uint64_t rows = header.shape[0], columns = header.shape[1];
    if (rows > std::uint64_t(std::numeric_limits<int>::max()) || columns > std::uint64_t(std::numeric_limits<int>::max()))
        throw malformed("its shape is too large");
    const std::size_t size = header.itemBytes;
    const char kind = header.kind;
    if (beforeData)
        beforeData(int(columns), int(rows));
    const std::string bytes = take(rows * columns * size + 1);   // one more: nothing may follow
    if (bytes.size() != rows * columns * size)
        throw malformed("it holds " + std::string(bytes.size() > rows * columns * size ? "more" : "fewer") + " bytes of data than "
                        + std::to_string(rows) + " x " + std::to_string(columns) + " elements of " + std::to_string(size) + " bytes");
    const bool bigEndian = header.bigEndian;
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
            value = kind == 'b' ? std::int64_t(raw != 0) : std::int64_t(raw);
        // Memory order: row by row, or (Fortran's) column by column.
        const std::size_t row = header.fortranOrder ? at % rows : at / columns;
        const std::size_t column = header.fortranOrder ? at / rows : at % columns;
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
