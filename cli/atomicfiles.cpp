#include "atomicfiles.h"
#include "interrupt.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// ".NAME.PID.tmp" (".NAME.PID-INDEX.tmp" for the second file of a set on),
// its NAME cut short where the whole would be too long a file name.
std::string temporaryName(const std::string &path, std::size_t index)
{
    const fs::path p(path);
    const std::string suffix = "." + std::to_string(getpid()) + (index > 0 ? "-" + std::to_string(index) : "") + ".tmp";
    const std::string name = p.filename().string().substr(0, NAME_MAX - 1 - suffix.size());
    return (p.parent_path() / ("." + name + suffix)).string();
}

// Tells the signal handler which temporary files to remove, for its life;
// the paths must outlive it.
class Registered
{
public:
    explicit Registered(const std::vector<std::string> &paths)
    {
        for (const std::string &path : paths)
            pointers.push_back(path.c_str());
        pointers.push_back(nullptr);
        Interrupt::setTemporaries(pointers.data());
    }
    ~Registered() { Interrupt::setTemporaries(nullptr); }

private:
    std::vector<const char *> pointers;
};

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

// The deepest part of `folder` that exists, a folder; the names below it,
// which are to be made, go to `missing`. Throws on anything but a plain
// absence: a file on the way, a symbolic link loop or one that leads
// nowhere, a name too long.
fs::path existingFolder(fs::path folder, std::vector<std::string> &missing)
{
    for (;;) {
        if (folder.empty())
            folder = ".";
        std::error_code error;
        const fs::file_status status = fs::status(folder, error);
        if (fs::exists(status)) {
            if (!fs::is_directory(status))
                throw std::runtime_error(folder.string() + " is not a folder");
            return folder;
        }
        if (error && error != std::errc::no_such_file_or_directory)
            throw std::runtime_error(folder.string() + ": " + error.message());
        if (fs::is_symlink(fs::symlink_status(folder, error)))
            throw std::runtime_error(folder.string() + " is a symbolic link to nothing");
        if (folder.has_filename())
            missing.push_back(folder.filename().string());
        folder = folder.parent_path();
    }
}

} // namespace

void AtomicFiles::add(std::string path, std::string contents)
{
    files.emplace_back(std::move(path), std::move(contents));
}

void AtomicFiles::addMarker(std::string path, std::string contents)
{
    marker.assign(1, {std::move(path), std::move(contents)});
}

void AtomicFiles::commit(const Stop &stop)
{
    const bool marked = !marker.empty();
    if (marked)
        files.push_back(std::move(marker.front()));   // renamed last
    marker.clear();
    std::vector<std::string> temporaries;
    for (std::size_t i = 0; i < files.size(); ++i)
        temporaries.push_back(temporaryName(files[i].first, i));
    const Registered registered(temporaries);
    const auto removeTemporaries = [&] {
        for (const std::string &temporary : temporaries)
            std::remove(temporary.c_str());
        files.clear();
    };
    const auto fail = [&](const std::string &path, const std::string &why) {
        const std::runtime_error error("cannot write " + path + ": " + why);
        removeTemporaries();
        throw error;
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string error = writeFile(temporaries[i], files[i].second);
        if (!error.empty())
            fail(files[i].first, error);
    }
    const auto abandonIfStopped = [&] {
        if (stop && stop()) {
            removeTemporaries();
            throw Stopped();
        }
    };
    // Asked once the files are written, and again with the signals held
    // back, so that none comes between the answer and the renames.
    abandonIfStopped();
    const Interrupt::Deferred deferred;
    abandonIfStopped();
    if (marked && std::remove(files.back().first.c_str()) != 0 && errno != ENOENT)
        fail(files.back().first, std::strerror(errno));
    for (std::size_t i = 0; i < files.size(); ++i)
        if (std::rename(temporaries[i].c_str(), files[i].first.c_str()) != 0)
            fail(files[i].first, std::strerror(errno));
    files.clear();
}

void AtomicFiles::checkWritableFolder(const std::string &folder)
{
    const std::string probe = temporaryName((std::filesystem::path(folder) / "probe").string(), 0);
    const std::vector<std::string> probes{probe};
    const Registered registered(probes);   // holds pointers into `probes`
    const std::string error = writeFile(probe, {});
    if (!error.empty())
        throw std::runtime_error("cannot write in " + folder + ": " + error);
    std::remove(probe.c_str());
}

void AtomicFiles::checkWritable(const std::string &path, bool folderMayBeMade)
{
    const fs::path file(path);
    std::vector<std::string> missing;
    fs::path existing;
    try {
        existing = existingFolder(file.parent_path(), missing);
    } catch (const std::runtime_error &error) {
        throw std::runtime_error("cannot write " + file.string() + ": " + error.what());
    }
    const bool folderExists = missing.empty();
    if (!folderExists && !folderMayBeMade)
        throw std::runtime_error("cannot write " + file.string() + ": no folder " + file.parent_path().string());
    const std::string temporary = temporaryName(file.string(), 0);
    missing.push_back(file.filename().string());
    const long nameMax = pathconf(existing.c_str(), _PC_NAME_MAX);
    const bool tooLong = temporary.size() >= PATH_MAX
                         || std::any_of(missing.begin(), missing.end(), [&](const std::string &name) {
                                return nameMax > 0 && name.size() > std::size_t(nameMax);
                            });
    if (tooLong)
        throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(ENAMETOOLONG));
    if (folderExists) {   // then the file itself
        std::error_code error;
        // The rename would replace a link with a plain file.
        if (fs::is_symlink(fs::symlink_status(file, error)) && fs::exists(fs::status(file, error)))
            throw std::runtime_error("cannot write " + file.string() + ": it is a symbolic link, not a plain file");
        const fs::file_status status = fs::status(file, error);
        if (fs::is_directory(status))
            throw std::runtime_error("cannot write " + file.string() + ": it is a folder");
        // A rename would replace a device or a pipe with a plain file.
        if (fs::exists(status) && !fs::is_regular_file(status))
            throw std::runtime_error("cannot write " + file.string() + ": it is not a plain file");
        if (error && error != std::errc::no_such_file_or_directory)
            throw std::runtime_error("cannot write " + file.string() + ": " + error.message());
        if (!fs::exists(status) && fs::is_symlink(fs::symlink_status(file, error)))
            throw std::runtime_error("cannot write " + file.string() + ": a symbolic link to nothing");
    }
    checkWritableFolder(existing.string());
}

bool AtomicFiles::samePath(const std::string &a, const std::string &b)
{
    struct stat statA{}, statB{};
    if (stat(a.c_str(), &statA) == 0 && stat(b.c_str(), &statB) == 0)
        return statA.st_dev == statB.st_dev && statA.st_ino == statB.st_ino;
    std::error_code errorA, errorB;
    const fs::path canonicalA = fs::weakly_canonical(fs::absolute(a), errorA);
    const fs::path canonicalB = fs::weakly_canonical(fs::absolute(b), errorB);
    return !errorA && !errorB && canonicalA == canonicalB;
}
