#include "histogram.h"

#include <algorithm>
#include <limits>

void Histogram::merge(const Histogram &other)
{
    other.forEach([this](std::int64_t value, std::uint64_t count) { add(value, count); });
}

std::uint64_t Histogram::total() const
{
    std::uint64_t sum = 0;
    forEach([&sum](std::int64_t, std::uint64_t count) { sum += count; });
    return sum;
}

std::int64_t Histogram::largest() const
{
    std::int64_t top = 0;
    forEach([&top](std::int64_t value, std::uint64_t) { top = value; });
    return top;
}

bool Histogram::operator==(const Histogram &other) const
{
    std::vector<std::pair<std::int64_t, std::uint64_t>> mine, theirs;
    forEach([&mine](std::int64_t v, std::uint64_t c) { mine.emplace_back(v, c); });
    other.forEach([&theirs](std::int64_t v, std::uint64_t c) { theirs.emplace_back(v, c); });
    return mine == theirs;
}

std::vector<Histogram::Bin> Histogram::logBins() const
{
    std::vector<Bin> bins;
    const std::int64_t top = largest();
    for (std::int64_t low = 1; low <= top;) {
        const std::int64_t width = std::max<std::int64_t>(1, low / 4);
        // The last bin ends at the largest int64 rather than past it.
        if (low > std::numeric_limits<std::int64_t>::max() - width) {
            bins.push_back({low, std::numeric_limits<std::int64_t>::max(), 0, 0});
            break;
        }
        bins.push_back({low, low + width - 1, 0, 0});
        low += width;
    }
    std::size_t k = 0;
    forEach([&](std::int64_t value, std::uint64_t count) {
        while (k < bins.size() && bins[k].high < value)
            ++k;
        if (k < bins.size() && value >= bins[k].low)
            bins[k].count += count;
    });
    const double all = double(total());
    for (Bin &bin : bins)
        bin.density = double(bin.count) / (all * double(bin.high - bin.low + 1));
    return bins;
}
