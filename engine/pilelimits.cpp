#include "pilelimits.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

namespace {

constexpr std::size_t UNKNOWN = SIZE_MAX;
constexpr std::size_t KIB = 1024, MB = 1000 * 1000;

// The value of `key` (kilobytes) in a /proc file of "Key: value kB" lines.
std::size_t kilobytesIn(const char *file, const std::string &key)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::size_t(std::stoull(line.substr(key.size()))) * KIB;
    return UNKNOWN;
}

// A number of bytes in a control group's file; UNKNOWN for "max" or none.
std::size_t bytesIn(const std::filesystem::path &file)
{
    std::ifstream in(file);
    std::size_t bytes = 0;
    return in >> bytes ? bytes : UNKNOWN;
}

// What the address-space limit leaves beyond what is already mapped.
std::size_t addressSpaceLeft()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return UNKNOWN;
    const std::size_t mapped = kilobytesIn("/proc/self/status", "VmSize:");
    return mapped == UNKNOWN || mapped >= limit.rlim_cur ? 0 : std::size_t(limit.rlim_cur) - mapped;
}

// What the memory.max of this process's cgroup (v2) and of each above it
// leaves beyond its memory.current.
std::size_t controlGroupLeft()
{
    std::ifstream in("/proc/self/cgroup");
    std::string line, path;
    while (std::getline(in, line))
        if (line.rfind("0::", 0) == 0)
            path = line.substr(3);
    if (path.empty())
        return UNKNOWN;
    const std::filesystem::path root = "/sys/fs/cgroup";
    std::size_t least = UNKNOWN;
    for (std::filesystem::path group = path; group.has_relative_path(); group = group.parent_path()) {
        const std::filesystem::path folder = root / group.relative_path();
        const std::size_t max = bytesIn(folder / "memory.max"), current = bytesIn(folder / "memory.current");
        if (max != UNKNOWN && current != UNKNOWN)
            least = std::min(least, max > current ? max - current : 0);
    }
    return least;
}

// Whole megabytes, rounded up or down.
std::string megabytes(std::size_t bytes, bool up)
{
    return std::to_string(bytes / MB + (up && bytes % MB != 0)) + " MB";
}

[[noreturn]] void refuse(const std::string &line)
{
    throw PileLimits::Fault(line);
}

} // namespace

void PileLimits::checkCentre(std::uint64_t grains)
{
    if (grains > MAX_CENTRE_GRAINS)
        refuse("the number of grains " + std::to_string(grains) + " is above 2^32 = " + std::to_string(MAX_CENTRE_GRAINS));
}

void PileLimits::checkIdentity(std::int64_t side)
{
    if (side < 1 || side > MAX_SIDE)
        refuse("the side " + std::to_string(side) + " is outside 1.." + std::to_string(MAX_SIDE));
}

void PileLimits::checkSides(std::int64_t width, std::int64_t height)
{
    if (width < 1 || height < 1 || width > MAX_SIDE || height > MAX_SIDE)
        refuse("a pile of " + std::to_string(height) + " x " + std::to_string(width) + " sites is outside 1.."
               + std::to_string(MAX_SIDE) + " a side");
}

void PileLimits::checkPile(std::int64_t width, std::int64_t height, const std::vector<std::int64_t> &heights)
{
    checkSides(width, height);
    if (std::int64_t(heights.size()) != width * height)
        refuse("a pile of " + std::to_string(height) + " x " + std::to_string(width) + " sites needs as many heights, not "
               + std::to_string(heights.size()));
    long double grains = 0;
    for (std::size_t at = 0; at < heights.size(); ++at) {
        if (heights[at] < 0)
            refuse("the height at row " + std::to_string(at / std::size_t(width)) + ", column "
                   + std::to_string(at % std::size_t(width)) + " is below 0: " + std::to_string(heights[at]));
        grains += heights[at];
    }
    // A grain topples at most the steps a walk takes to leave the lattice,
    // on average less than (side + 1)^2 / 8.
    const long double side = std::max(width, height) + 1;
    if (grains * side * side / 8 > MAX_TOPPLING_BOUND)
        refuse("the pile holds too many grains to count its topplings in 64 bits");
}

void PileLimits::checkMemory(std::size_t bytes)
{
    const std::size_t available = availableBytes();
    if (bytes > available)
        throw OutOfMemory("the pile needs about " + megabytes(bytes, true) + " of memory and " + megabytes(available, false)
                          + " is available");
}

std::size_t PileLimits::availableBytes()
{
    return std::min({kilobytesIn("/proc/meminfo", "MemAvailable:"), addressSpaceLeft(), controlGroupLeft()});
}
