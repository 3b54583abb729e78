#include "atomicfiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace {

// Writes the file and syncs it to disk; the error text, or empty on success.
std::string writeFile(const std::string &path, const std::string &contents)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return std::strerror(errno);
    const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size()
                         && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    const int error = errno;
    if (std::fclose(file) != 0 || !written)
        return std::strerror(written ? errno : error);
    return {};
}

} // namespace

std::string AtomicFiles::temporaryName(const std::string &path)
{
    const std::filesystem::path p(path);
    return (p.parent_path() / ("." + p.filename().string() + "." + std::to_string(getpid()) + ".tmp")).string();
}

void AtomicFiles::add(std::string path, std::string contents)
{
    files.emplace_back(std::move(path), std::move(contents));
}

void AtomicFiles::addMarker(std::string path, std::string contents)
{
    marker.assign(1, {std::move(path), std::move(contents)});
}

void AtomicFiles::commit()
{
    const bool marked = !marker.empty();
    if (marked)
        files.push_back(std::move(marker.front()));   // renamed last
    marker.clear();
    std::vector<std::string> temporaries;
    const auto fail = [&](const std::string &path, const std::string &why) {
        const std::runtime_error error("cannot write " + path + ": " + why);
        for (const std::string &temporary : temporaries)
            std::remove(temporary.c_str());
        files.clear();
        throw error;
    };
    for (const auto &[path, contents] : files) {
        temporaries.push_back(temporaryName(path));
        const std::string error = writeFile(temporaries.back(), contents);
        if (!error.empty())
            fail(path, error);
    }
    if (marked && std::remove(files.back().first.c_str()) != 0 && errno != ENOENT)
        fail(files.back().first, std::strerror(errno));
    for (std::size_t i = 0; i < files.size(); ++i)
        if (std::rename(temporaries[i].c_str(), files[i].first.c_str()) != 0)
            fail(files[i].first, std::strerror(errno));
    files.clear();
}

void AtomicFiles::checkWritableFolder(const std::string &folder)
{
    const std::string probe = temporaryName((std::filesystem::path(folder) / "probe").string());
    const std::string error = writeFile(probe, {});
    if (!error.empty())
        throw std::runtime_error("cannot write in " + folder + ": " + error);
    std::remove(probe.c_str());
}
