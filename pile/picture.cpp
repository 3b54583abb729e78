#include "picture.h"

#include "sandpile/colours.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace {

using Palette = std::array<QRgb, 4>;

const std::vector<std::pair<std::string, Palette>> &table()
{
    static const std::vector<std::pair<std::string, Palette>> palettes{
        {"window", {Colours::height[0].rgb(), Colours::height[1].rgb(), Colours::height[2].rgb(), Colours::height[3].rgb()}},
        {"print", {qRgb(255, 255, 255), qRgb(192, 192, 192), qRgb(96, 96, 96), qRgb(0, 0, 0)}},
        {"heat", {qRgb(0, 0, 0), qRgb(160, 20, 20), qRgb(240, 120, 0), qRgb(255, 230, 80)}},
        {"sea", {qRgb(8, 16, 48), qRgb(20, 80, 160), qRgb(80, 180, 220), qRgb(230, 250, 255)}},
    };
    return palettes;
}

} // namespace

std::vector<std::string> Picture::palettes()
{
    std::vector<std::string> names;
    for (const auto &[name, colours] : table())
        names.push_back(name);
    return names;
}

std::string Picture::png(const std::vector<std::uint8_t> &heights, int width, int height, const std::string &palette)
{
    const auto found = std::find_if(table().begin(), table().end(), [&](const auto &entry) { return entry.first == palette; });
    if (found == table().end())
        throw std::runtime_error("no palette named " + palette);
    QImage image(width, height, QImage::Format_Indexed8);
    if (image.isNull())
        throw std::runtime_error("out of memory for a picture of " + std::to_string(width) + " x " + std::to_string(height));
    image.setColorTable(QList<QRgb>(found->second.begin(), found->second.end()));
    for (int y = 0; y < height; ++y)
        std::copy_n(heights.data() + std::size_t(y) * width, width, image.scanLine(y));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        throw std::runtime_error("cannot make the picture: " + writer.errorString().toStdString());
    return bytes.toStdString();
}
