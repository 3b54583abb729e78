#include "zoomfolder.h"

#include "palette.h"
#include "zoompage.h"
#include "engine/leastaction.h"

#include <vips/vips8>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <fcntl.h>
#include <unistd.h>

#ifndef SANDPILE_LEAFLET_DIR
#define SANDPILE_LEAFLET_DIR "/usr/share/javascript/leaflet"
#endif

namespace {

namespace fs = std::filesystem;

// The first line of pile.js: what tells a zoom folder written here.
constexpr const char *MARKER = "// The description of a sandpile's zoom folder.";
// What the viewer copies from Debian's libjs-leaflet.
constexpr const char *LEAFLET_DIR = SANDPILE_LEAFLET_DIR;
const char *const LEAFLET_FILES[] = {"leaflet.js", "leaflet.css"};
// Around the pile, in the page and in the tiles at its edges: a blue grey
// that no palette's colours, nor the mixtures of them, come near.
constexpr Palette::Rgb BACKDROP{58, 68, 88};
constexpr int SITES_A_BYTE = 4;   // in the heights' scripts

std::string temporaryName(const fs::path &folder, const char *kind)
{
    return (folder.parent_path() / ("." + folder.filename().string() + "." + std::to_string(getpid()) + kind)).string();
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const fs::path &path, const std::string &contents)
{
    std::ofstream out(path, std::ios::binary);
    out.write(contents.data(), std::streamsize(contents.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno ? errno : EIO));
}

// Levels above the finest, which shows a site a pixel, until one tile
// holds the whole pile.
int coarserLevels(int width, int height)
{
    int levels = 0;
    while ((std::int64_t(ZoomFolder::TILE) << levels) < std::max(width, height))
        ++levels;
    return levels;
}

std::string base64(const std::string &bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        std::uint32_t word = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        if (left > 1)
            word |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
        if (left > 2)
            word |= std::uint8_t(bytes[i + 2]);
        for (int k = 0; k < 4; ++k)
            text += k <= int(std::min<std::size_t>(left, 3)) ? digits[(word >> (18 - 6 * k)) & 63] : '=';
    }
    return text;
}

// Files alike are kept once: the first of each kind; the others are
// removed and listed in `shared` against the one kept.
class Sharing
{
public:
    Sharing(const fs::path &root, std::map<std::string, std::string> &shared) : root(root), shared(shared) {}

    // Writes `contents` at `name` (relative to the root) unless a file
    // alike was written, which `name` then refers to.
    void write(const std::string &name, const std::string &contents)
    {
        if (const std::string *kept = find(contents)) {
            shared[name] = *kept;
            return;
        }
        fs::create_directories((root / name).parent_path());
        writeFile(root / name, contents);
        keep(name, contents);
    }
    // The same for a file already written.
    void share(const std::string &name)
    {
        const std::string contents = readFile(root / name);
        if (const std::string *kept = find(contents)) {
            fs::remove(root / name);
            shared[name] = *kept;
        } else {
            keep(name, contents);
        }
    }

private:
    const std::string *find(const std::string &contents) const
    {
        const auto [first, last] = kept.equal_range(std::hash<std::string>()(contents));
        for (auto it = first; it != last; ++it)
            if (readFile(root / it->second) == contents)
                return &it->second;
        return nullptr;
    }
    void keep(const std::string &name, const std::string &contents)
    {
        kept.emplace(std::hash<std::string>()(contents), name);
    }

    fs::path root;
    std::map<std::string, std::string> &shared;
    std::multimap<std::size_t, std::string> kept;   // by the hash of their contents
};

// Stops a libvips computation when asked to: polled on its progress.
void pollStop(VipsImage *image, VipsProgress *, void *stop)
{
    if ((*static_cast<const std::function<bool()> *>(stop))())
        vips_image_set_kill(image, TRUE);
}

// One level of the pyramid: a pixel the mean height of a `shrink` x
// `shrink` block of sites (of those inside the pile at its edges), through
// the palette; the tiles go to `folder`/y/x.png.
void writeLevel(const vips::VImage &sites, const vips::VImage &colours, int shrink, const fs::path &folder,
                const std::function<bool()> &stop)
{
    vips::VImage levels = sites;
    if (shrink > 1) {
        const int width = (sites.width() + shrink - 1) / shrink * shrink;
        const int height = (sites.height() + shrink - 1) / shrink * shrink;
        const auto padded = [&](const vips::VImage &image) {
            return image.embed(0, 0, width, height, vips::VImage::option()->set("extend", VIPS_EXTEND_BLACK))
                .cast(VIPS_FORMAT_FLOAT)
                .shrink(shrink, shrink);
        };
        const vips::VImage inside = vips::VImage::black(sites.width(), sites.height()) + 1;
        // Rounded to the nearest level: +0.5, then cut.
        levels = (padded(sites) / padded(inside) * Palette::LEVELS_PER_HEIGHT + 0.5).cast(VIPS_FORMAT_UCHAR);
    } else {
        levels = sites * Palette::LEVELS_PER_HEIGHT;
        levels = levels.cast(VIPS_FORMAT_UCHAR);
    }
    vips::VImage picture = levels.maplut(colours);
    vips_image_set_progress(picture.get_image(), TRUE);
    g_signal_connect(picture.get_image(), "eval", G_CALLBACK(pollStop), const_cast<std::function<bool()> *>(&stop));
    const fs::path pyramid = folder.string() + ".pyramid";
    try {
        picture.dzsave(pyramid.c_str(), vips::VImage::option()
                                            ->set("layout", VIPS_FOREIGN_DZ_LAYOUT_GOOGLE)
                                            ->set("depth", VIPS_FOREIGN_DZ_DEPTH_ONE)
                                            ->set("tile_size", ZoomFolder::TILE)
                                            ->set("overlap", 0)
                                            ->set("suffix", ".png[strip]")
                                            ->set("background", std::vector<double>(BACKDROP.begin(), BACKDROP.end())));
    } catch (const vips::VError &error) {
        if (stop())
            throw LeastAction::Stopped();
        throw std::runtime_error("cannot write the tiles in " + folder.parent_path().string() + ": " + error.what());
    }
    // The one level of a pyramid of depth one is its level 0.
    fs::rename(pyramid / "0", folder);
    fs::remove_all(pyramid);
}

// The heights of each tile of the finest level, rows of the tile, 2 bits a
// site, compressed for the viewer's DecompressionStream("deflate").
void writeHeights(Sharing &files, const std::uint8_t *heights, int width, int height, const std::function<bool()> &stop)
{
    const int T = ZoomFolder::TILE;
    std::string tile;
    for (int ty = 0; ty * T < height; ++ty) {
        if (stop())
            throw LeastAction::Stopped();
        for (int tx = 0; tx * T < width; ++tx) {
            const int columns = std::min(T, width - tx * T), rows = std::min(T, height - ty * T);
            tile.assign((std::size_t(rows) * columns + SITES_A_BYTE - 1) / SITES_A_BYTE, '\0');
            for (int y = 0; y < rows; ++y) {
                const std::uint8_t *row = heights + std::size_t(ty * T + y) * width + tx * T;
                for (int x = 0; x < columns; ++x) {   // the first site in the high bits
                    const std::size_t site = std::size_t(y) * columns + x;
                    tile[site / SITES_A_BYTE] = char(tile[site / SITES_A_BYTE] | (row[x] & 3) << (6 - 2 * (site % SITES_A_BYTE)));
                }
            }
            uLongf packedSize = compressBound(uLong(tile.size()));
            std::string packed(packedSize, '\0');
            if (compress2(reinterpret_cast<Bytef *>(packed.data()), &packedSize,
                          reinterpret_cast<const Bytef *>(tile.data()), uLong(tile.size()), Z_DEFAULT_COMPRESSION)
                != Z_OK)
                throw std::bad_alloc();
            packed.resize(packedSize);
            files.write("heights/" + std::to_string(ty) + "/" + std::to_string(tx) + ".js",
                        "zoomHeights(\"" + base64(packed) + "\");\n");
        }
    }
}

std::string quoted(const std::string &text)
{
    return '"' + text + '"';   // file names of digits and slashes: nothing to escape
}

std::string description(int width, int height, int levels, const std::map<std::string, std::string> &shared)
{
    char backdrop[8];
    std::snprintf(backdrop, sizeof backdrop, "#%02x%02x%02x", BACKDROP[0], BACKDROP[1], BACKDROP[2]);
    std::string text = std::string(MARKER) + "\nvar pile = {\n";
    text += "  \"width\": " + std::to_string(width) + ",\n  \"height\": " + std::to_string(height) + ",\n";
    text += "  \"levels\": " + std::to_string(levels) + ",\n  \"tile\": " + std::to_string(ZoomFolder::TILE) + ",\n";
    text += "  \"maxPixelsASite\": " + std::to_string(ZoomFolder::MAX_PIXELS_A_SITE) + ",\n";
    text += "  \"backdrop\": " + quoted(backdrop) + ",\n  \"shared\": {";
    const char *separator = "\n    ";
    for (const auto &[name, kept] : shared) {
        text += separator + quoted(name) + ": " + quoted(kept);
        separator = ",\n    ";
    }
    return text + "\n  }\n};\n";
}

void startVips()
{
    static std::once_flag started;
    std::call_once(started, [] {
        if (VIPS_INIT("sandpile") != 0)
            throw std::runtime_error("cannot start libvips: " + std::string(vips_error_buffer()));
    });
}

// Whether `folder` is a zoom folder written here.
bool isZoomFolder(const fs::path &folder)
{
    std::ifstream description(folder / "pile.js");
    std::string first;
    return std::getline(description, first) && first == MARKER;
}

} // namespace

void ZoomFolder::checkWritable(const std::string &folder)
{
    if (folder.empty())
        throw std::invalid_argument("the zoom folder needs a name");
    const fs::path path = fs::absolute(folder).lexically_normal();
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (fs::exists(status) && !(fs::is_directory(status) && isZoomFolder(path)))
        throw std::invalid_argument(folder + " exists and is not a zoom folder; it is left alone");
    const fs::path parent = path.has_filename() ? path.parent_path() : path.parent_path().parent_path();
    if (!fs::is_directory(parent, error))
        throw std::runtime_error("cannot write " + folder + ": no folder " + parent.string());
    if (access(parent.c_str(), W_OK | X_OK) != 0)
        throw std::runtime_error("cannot write in " + parent.string() + ": " + std::strerror(errno));
    for (const char *file : LEAFLET_FILES)
        if (!fs::is_regular_file(fs::path(LEAFLET_DIR) / file, error))
            throw std::runtime_error(std::string("cannot find the viewer's script ") + LEAFLET_DIR + "/" + file
                                     + " (Debian's libjs-leaflet)");
}

std::size_t ZoomFolder::bytes(int width, int height)
{
    (void)height;
    // libvips' buffers: a few rows of tiles of the widest level in floats,
    // and some tiles a thread.
    constexpr std::size_t BUFFERS = std::size_t(64) << 20;
    return BUFFERS + std::size_t(width) * TILE * 4 * sizeof(float);
}

void ZoomFolder::write(const std::string &folder, const std::uint8_t *heights, int width, int height,
                       const std::string &palette, const std::function<bool()> &stop, int threads)
{
    checkWritable(folder);
    const Palette colours(palette);
    startVips();
    vips_concurrency_set(threads);

    const fs::path path = fs::absolute(folder).lexically_normal();
    const fs::path place = path.has_filename() ? path : path.parent_path();
    const fs::path building = temporaryName(place, ".tmp");
    fs::remove_all(building);
    fs::create_directory(building);
    struct Cleanup {
        fs::path path;
        ~Cleanup()
        {
            std::error_code ignored;
            if (!path.empty())
                fs::remove_all(path, ignored);
        }
    } cleanup{building};

    try {
        fs::create_directory(building / "leaflet");
        for (const char *file : LEAFLET_FILES)
            fs::copy_file(fs::path(LEAFLET_DIR) / file, building / "leaflet" / file);

        std::string lut;
        for (int level = 0; level < Palette::LEVELS; ++level)
            for (std::uint8_t c : colours.mixed(level))
                lut += char(c);
        const vips::VImage table = vips::VImage::new_from_memory(lut.data(), lut.size(), Palette::LEVELS, 1, 3, VIPS_FORMAT_UCHAR);
        const vips::VImage sites = vips::VImage::new_from_memory(const_cast<std::uint8_t *>(heights),
                                                                 std::size_t(width) * height, width, height, 1,
                                                                 VIPS_FORMAT_UCHAR);
        std::map<std::string, std::string> shared;
        Sharing files(building, shared);
        const int finest = coarserLevels(width, height);
        fs::create_directory(building / "tiles");
        for (int level = finest; level >= 0; --level) {
            if (stop())
                throw LeastAction::Stopped();
            const fs::path tiles = building / "tiles" / std::to_string(level);
            writeLevel(sites, table, 1 << (finest - level), tiles, stop);
            std::vector<std::string> names;
            for (const auto &entry : fs::recursive_directory_iterator(tiles))
                if (entry.is_regular_file())
                    names.push_back(fs::relative(entry.path(), building).string());
            std::sort(names.begin(), names.end());   // the same tiles kept on every run
            for (const std::string &name : names)
                files.share(name);
        }
        writeHeights(files, heights, width, height, stop);
        writeFile(building / "pile.js", description(width, height, finest + 1, shared));
        writeFile(building / "index.html", ZoomPage::HTML);
    } catch (const fs::filesystem_error &error) {
        throw std::runtime_error(std::string("cannot write ") + folder + ": " + error.code().message());
    }

    // On disk before it takes the place of anything.
    const int descriptor = open(building.c_str(), O_RDONLY | O_DIRECTORY);
    if (descriptor < 0 || syncfs(descriptor) != 0)
        throw std::runtime_error("cannot write " + folder + ": " + std::strerror(errno));
    close(descriptor);
    if (stop())
        throw LeastAction::Stopped();
    checkWritable(folder);   // nothing came in its way meanwhile
    // An old zoom folder is swapped with the new one at once, then removed
    // with the temporary name.
    if (renameat2(AT_FDCWD, building.c_str(), AT_FDCWD, place.c_str(), fs::exists(place) ? RENAME_EXCHANGE : RENAME_NOREPLACE) != 0)
        throw std::runtime_error("cannot write " + folder + ": " + std::strerror(errno));
}
