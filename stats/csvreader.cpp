// A CSV folder read back, as csvschema.h lays it out, with every figure the
// folder states checked against its raw files.

#include "csvfolder.h"

#include "csvschema.h"
#include "strictnumber.h"
#include "tallycheck.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace CsvFolder {

using namespace CsvSchema;

namespace {

std::vector<std::string> split(const std::string &line)
{
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, ',');)
        fields.push_back(field);
    if (!line.empty() && line.back() == ',')
        fields.emplace_back();
    return fields;
}

// The lines of a file of this tool, its header first.
std::vector<std::string> readLines(const std::string &path, const std::string &folder)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error(folder + " is not a folder of sandpile-stats output: cannot read " + path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    if (lines.empty())
        throw std::runtime_error(folder + " is not a folder of sandpile-stats output: " + path + " is empty");
    return lines;
}

// Where each of summaryColumns() stands in a header: every one exactly
// once, in any order, and no other.
std::vector<std::size_t> columnPlaces(const std::string &header, const std::string &path)
{
    const std::vector<std::string> names = split(header);
    std::vector<std::size_t> places;
    for (const Column &column : summaryColumns()) {
        const auto at = std::find(names.begin(), names.end(), column.name);
        if (at == names.end())
            throw std::runtime_error(path + ": no column " + column.name);
        if (std::find(at + 1, names.end(), column.name) != names.end())
            throw std::runtime_error(path + ": column " + column.name + " twice");
        places.push_back(std::size_t(at - names.begin()));
    }
    if (names.size() != places.size()) {
        for (const std::string &name : names)
            if (std::none_of(summaryColumns().begin(), summaryColumns().end(),
                             [&name](const Column &column) { return column.name == name; }))
                throw std::runtime_error(path + ": unknown column '" + name + "'");
    }
    return places;
}

std::int64_t whole(const std::string &text, const std::string &path)
{
    std::int64_t value = 0;
    if (!parseWhole(text, value))
        throw std::runtime_error(path + ": '" + text + "' is not a whole number");
    return value;
}

// A power sum as written: %.17g, read back to the same bits.
double sumValue(const std::string &text, const std::string &path)
{
    double value = 0;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        throw std::runtime_error(path + ": '" + text + "' is not a number");
    return value;
}

Tally readRaw(const std::string &path, const std::string &folder)
{
    std::vector<std::string> lines = readLines(path, folder);
    if (lines.front() != RAW_HEADER)
        throw std::runtime_error(folder + " is not a folder of sandpile-stats output: " + path
                                 + " has not the expected columns");
    Tally tally;
    const std::vector<std::string> &sumKeys = blockSumKeys();
    std::size_t sumsRead = sumKeys.size();   // of the last block: none is missing before the first
    const auto blockComplete = [&] {
        if (sumsRead != sumKeys.size())
            throw std::runtime_error(path + ": a block without its " + sumKeys[sumsRead] + " sum");
    };
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string &line = lines[n];
        const std::vector<std::string> f = split(line);
        if (f.size() != 4)
            throw std::runtime_error(path + ": malformed line '" + line + "'");
        const std::string &record = f[0];
        if (record != "block_sum")
            blockComplete();
        const auto observable = std::find(std::begin(Tally::OBSERVABLE_NAMES), std::end(Tally::OBSERVABLE_NAMES), record);
        if (record == "run") {
            const std::int64_t index = whole(f[1], path);
            if (!tally.runs.empty() && index <= tally.runs.back().index)
                throw std::runtime_error(path + ": runs out of order");
            tally.runs.push_back({index, whole(f[3], path) != 0, {}});
        } else if (record == "block") {
            if (tally.runs.empty() || whole(f[1], path) != tally.runs.back().index)
                throw std::runtime_error(path + ": a block outside its run");
            tally.runs.back().blocks.push_back({whole(f[2], path), whole(f[3], path)});
            sumsRead = 0;
        } else if (record == "block_sum") {
            if (tally.runs.empty() || tally.runs.back().blocks.empty() || whole(f[1], path) != tally.runs.back().index
                || sumsRead == sumKeys.size() || f[2] != sumKeys[sumsRead])
                throw std::runtime_error(path + ": a block sum out of place: '" + line + "'");
            Tally::Block &block = tally.runs.back().blocks.back();
            if (sumsRead == 0) {
                block.avalanches = whole(f[3], path);
            } else {
                const std::size_t k = sumsRead - 1;
                block.powers[k / MomentScaling::ORDERS][k % MomentScaling::ORDERS] = sumValue(f[3], path);
            }
            ++sumsRead;
        } else if (observable != std::end(Tally::OBSERVABLE_NAMES)) {
            tally.histograms[std::size_t(observable - std::begin(Tally::OBSERVABLE_NAMES))].add(
                whole(f[2], path), std::uint64_t(whole(f[3], path)));
        } else if (record == "height") {
            const std::int64_t z = whole(f[2], path);
            if (z > 3)
                throw std::runtime_error(path + ": height " + f[2] + " out of range");
            tally.heights[std::size_t(z)] += std::uint64_t(whole(f[3], path));
        } else {
            throw std::runtime_error(path + ": unknown record '" + record + "'");
        }
    }
    blockComplete();
    return tally;
}

} // namespace

SeriesResult read(const std::string &folder)
{
    const std::string summaryPath = (std::filesystem::path(folder) / SUMMARY_FILE).string();
    const std::vector<std::string> lines = readLines(summaryPath, folder);
    const std::vector<std::size_t> places = columnPlaces(lines.front(), summaryPath);
    if (lines.size() == 1)
        throw std::runtime_error(folder + " is not a folder of sandpile-stats output: " + summaryPath + " has no rows");
    const std::vector<Column> &columns = summaryColumns();
    SeriesResult result;
    for (std::size_t r = 1; r < lines.size(); ++r) {
        const std::vector<std::string> f = split(lines[r]);
        if (f.size() != places.size())
            throw std::runtime_error(summaryPath + ": malformed line '" + lines[r] + "'");
        SummaryKeys keys;
        for (std::size_t c = 0; c < columns.size(); ++c)
            if (columns[c].use == Column::Key) {
                const std::string &text = f[places[c]];
                const std::vector<std::string> &names = columns[c].names;
                if (!names.empty()) {
                    const auto named = std::find(names.begin(), names.end(), text);
                    if (named == names.end())
                        throw std::runtime_error(summaryPath + ": " + columns[c].name + " '" + text
                                                 + "' is none of " + names.front() + ", " + names.back());
                    keys.*columns[c].key = named - names.begin();
                    continue;
                }
                const std::int64_t value = whole(text, summaryPath);
                if (value < columns[c].low || value > columns[c].high)
                    throw std::runtime_error(summaryPath + ": " + columns[c].name + " " + text + " out of range "
                                             + std::to_string(columns[c].low) + " to "
                                             + std::to_string(columns[c].high));
                keys.*columns[c].key = value;
            }
        if (r == 1) {
            result.seed = keys.seed;
            result.start = StartingPile(keys.start);
            result.grainsPerRun = keys.grainsPerRun;
        } else if (keys.seed != result.seed || StartingPile(keys.start) != result.start
                   || keys.grainsPerRun != result.grainsPerRun) {
            throw std::runtime_error(summaryPath + ": rows of different series");
        }
        const int side = int(keys.side);
        const std::string where = summaryPath + ": L = " + std::to_string(side);
        for (const SeriesResult::Side &earlier : result.sides)
            if (earlier.side == side)
                throw std::runtime_error(where + " twice");
        const std::string rawPath = (std::filesystem::path(folder) / sideFile(RAW, side)).string();
        SeriesResult::Side entry{side, keys.warmup, readRaw(rawPath, folder)};
        if (const std::string fault = TallyCheck::fault(entry, result.grainsPerRun); !fault.empty())
            throw std::runtime_error(rawPath + ": " + fault);
        if (!result.sides.empty() && entry.tally.runIndices() != result.sides.front().tally.runIndices())
            throw std::runtime_error(folder + ": the sides hold different runs");
        // The file's counts must be those of the raw file.
        const SideSummary remade(entry);
        const SummaryRow row = summaryRow(result, entry, remade);
        for (std::size_t c = 0; c < columns.size(); ++c)
            if (columns[c].use == Column::Checked && f[places[c]] != columns[c].text(row))
                throw std::runtime_error(where + ": " + columns[c].name + " is " + f[places[c]] + " but "
                                         + rawPath + " gives " + columns[c].text(row));
        result.sides.push_back(std::move(entry));
    }
    return result;
}

SeriesResult merge(const std::vector<std::string> &folders)
{
    SeriesResult merged;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        SeriesResult part = read(folders[i]);
        if (i == 0)
            merged = std::move(part);
        else if (const std::string fault = merged.merge(part); !fault.empty())
            throw std::runtime_error("cannot merge " + folders.front() + " and " + folders[i] + ": " + fault);
    }
    return merged;
}

} // namespace CsvFolder
