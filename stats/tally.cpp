#include "tally.h"

#include <algorithm>
#include <iterator>

void Tally::Block::add(const Block &other)
{
    grains += other.grains;
    topplings += other.topplings;
    avalanches += other.avalanches;
    for (int o = 0; o < OBSERVABLES; ++o)
        for (int k = 0; k < MomentScaling::ORDERS; ++k)
            powers[std::size_t(o)][std::size_t(k)] += other.powers[std::size_t(o)][std::size_t(k)];
}

bool Tally::merge(const Tally &other)
{
    if (runs.empty() || other.runs.empty() || other.runs.front().index > runs.back().index) {
        // Appending: other's runs are in increasing order already.
        runs.insert(runs.end(), other.runs.begin(), other.runs.end());
        addCounts(other);
        return true;
    }
    std::vector<Run> joined;
    const auto byIndex = [](const Run &a, const Run &b) { return a.index < b.index; };
    std::merge(runs.begin(), runs.end(), other.runs.begin(), other.runs.end(),
               std::back_inserter(joined), byIndex);
    const auto same = [](const Run &a, const Run &b) { return a.index == b.index; };
    if (std::adjacent_find(joined.begin(), joined.end(), same) != joined.end())
        return false;
    runs = std::move(joined);
    addCounts(other);
    return true;
}

void Tally::addCounts(const Tally &other)
{
    for (int o = 0; o < OBSERVABLES; ++o)
        histograms[std::size_t(o)].merge(other.histograms[std::size_t(o)]);
    for (std::size_t z = 0; z < heights.size(); ++z)
        heights[z] += other.heights[z];
}

std::int64_t Tally::grains() const
{
    std::int64_t sum = 0;
    for (const Run &run : runs)
        for (const Block &block : run.blocks)
            sum += block.grains;
    return sum;
}

std::int64_t Tally::topplings() const
{
    std::int64_t sum = 0;
    for (const Run &run : runs)
        for (const Block &block : run.blocks)
            sum += block.topplings;
    return sum;
}

std::uint64_t Tally::heightCount() const
{
    std::uint64_t sum = 0;
    for (std::uint64_t count : heights)
        sum += count;
    return sum;
}

bool Tally::interrupted() const
{
    return std::any_of(runs.begin(), runs.end(), [](const Run &run) { return run.interrupted; });
}

std::vector<std::int64_t> Tally::runIndices() const
{
    std::vector<std::int64_t> indices;
    for (const Run &run : runs)
        indices.push_back(run.index);
    return indices;
}

bool Tally::operator==(const Tally &other) const
{
    return histograms == other.histograms && heights == other.heights
           && runs == other.runs;
}
