#include "picture.h"

#include "palette.h"

#include <png.h>

#include <stdexcept>

namespace {

constexpr int BITS_A_SITE = 2;
constexpr int SITES_A_BYTE = 8 / BITS_A_SITE;
// Above the rows: the signature, the header and palette chunks, and
// deflate's stored-block headers (5 bytes every 16 kB) with room to spare.
constexpr std::size_t PNG_OVERHEAD = 1 << 16;

void append(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), length);
}

void flush(png_structp) {}

[[noreturn]] void failed(png_structp, png_const_charp message)
{
    throw std::runtime_error(std::string("cannot make the picture: ") + message);
}

} // namespace

std::vector<std::string> Picture::palettes()
{
    return Palette::names();
}

std::size_t Picture::pngBytes(int width, int height)
{
    const std::size_t rows = std::size_t(height) * ((std::size_t(width) + SITES_A_BYTE - 1) / SITES_A_BYTE + 1);
    return rows + rows / 1024 + PNG_OVERHEAD;
}

std::string Picture::png(const std::vector<std::uint8_t> &heights, int width, int height, const std::string &palette)
{
    if (!Palette::has(palette))
        throw std::runtime_error("no palette named " + palette);
    const Palette colours(palette);
    std::string bytes;
    bytes.reserve(pngBytes(width, height));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, failed, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::bad_alloc();
    }
    try {
        png_set_write_fn(png, &bytes, append, flush);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), BITS_A_SITE, PNG_COLOR_TYPE_PALETTE,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_color entries[4];
        for (int z = 0; z < 4; ++z)
            entries[z] = {colours.colour(z)[0], colours.colour(z)[1], colours.colour(z)[2]};
        png_set_PLTE(png, info, entries, 4);
        png_write_info(png, info);
        std::vector<png_byte> row((std::size_t(width) + SITES_A_BYTE - 1) / SITES_A_BYTE);
        for (int y = 0; y < height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            const std::uint8_t *sites = heights.data() + std::size_t(y) * width;
            for (int x = 0; x < width; ++x)   // the first site in the high bits
                row[std::size_t(x / SITES_A_BYTE)] |= png_byte((sites[x] & 3) << (8 - BITS_A_SITE * (1 + x % SITES_A_BYTE)));
            png_write_row(png, row.data());
        }
        png_write_end(png, info);
    } catch (...) {
        png_destroy_write_struct(&png, &info);
        throw;
    }
    png_destroy_write_struct(&png, &info);
    return bytes;
}
