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

// A raw file, checked line by line as it is read: its records in their
// order (runs and their blocks, each histogram, the heights), each block
// against itself once its sums are in, each run once its blocks are, and
// each histogram and the heights against the blocks once read. A fault
// names the file and the line it shows in.
Tally readRaw(const std::string &path, const std::string &folder, std::int64_t grainsPerRun, int side)
{
    const std::vector<std::string> lines = readLines(path, folder);
    if (lines.front() != RAW_HEADER)
        throw std::runtime_error(folder + " is not a folder of sandpile-stats output: " + path
                                 + " has not the expected columns");
    const auto refuse = [&path](std::size_t index, const std::string &why) {
        throw std::runtime_error(path + " line " + std::to_string(index + 1) + ": " + why);
    };
    // The stages of the file: 0 the runs, 1 + o histogram o, then the heights.
    constexpr int HEIGHTS = 1 + Tally::OBSERVABLES;
    const auto stageOf = [](const std::string &record) {
        if (record == "run" || record == "block" || record == "block_sum")
            return 0;
        for (int o = 0; o < Tally::OBSERVABLES; ++o)
            if (record == Tally::OBSERVABLE_NAMES[o])
                return 1 + o;
        return record == "height" ? HEIGHTS : -1;
    };

    Tally tally;
    const std::vector<std::string> &sumKeys = blockSumKeys();
    std::size_t sumsRead = sumKeys.size();   // of the last block: none is missing before the first
    std::size_t runLine = 0, blockLine = 0;
    int stage = 0;
    std::int64_t previous = -1;   // the last value of this stage
    const auto runComplete = [&] {
        if (tally.runs.empty())
            return;
        Tally last;
        last.runs.push_back(tally.runs.back());
        if (const std::string fault = TallyCheck::runsFault(last, grainsPerRun); !fault.empty())
            refuse(runLine, fault);
    };
    // The checks of a stage once its last line, `end`, is read.
    const auto stageComplete = [&](std::size_t end) {
        std::string fault;
        if (stage == 0) {
            if (sumsRead != sumKeys.size())
                refuse(end + 1, "a block without its " + sumKeys[sumsRead] + " sum");
            runComplete();
            fault = TallyCheck::runsFault(tally, grainsPerRun);
        } else if (stage < HEIGHTS) {
            fault = TallyCheck::histogramFault(tally, Tally::Observable(stage - 1), side);
        } else {
            fault = TallyCheck::heightsFault(tally, side);
        }
        if (!fault.empty())
            refuse(end, fault);
        ++stage;
        previous = -1;
    };

    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string &line = lines[n];
        const std::vector<std::string> f = split(line);
        if (f.size() != 4)
            refuse(n, "malformed line '" + line + "'");
        const auto number = [&](const std::string &text) {
            std::int64_t value = 0;
            if (!parseWhole(text, value))
                refuse(n, "'" + text + "' is not a whole number");
            return value;
        };
        const std::string &record = f[0];
        const int recordStage = stageOf(record);
        if (recordStage < 0)
            refuse(n, "unknown record '" + record + "'");
        if (recordStage < stage)
            refuse(n, "a " + record + " line out of place");
        while (stage < recordStage)
            stageComplete(n - 1);
        if (record != "block_sum" && sumsRead != sumKeys.size())
            refuse(n, "a block without its " + sumKeys[sumsRead] + " sum");

        if (record == "run") {
            const std::int64_t index = number(f[1]);
            if (!tally.runs.empty() && index <= tally.runs.back().index)
                refuse(n, "runs out of order");
            if (f[2] != "interrupted" || (f[3] != "0" && f[3] != "1"))
                refuse(n, "a run is interrupted, 0 or 1");
            runComplete();
            tally.runs.push_back({index, f[3] == "1", {}});
            runLine = n;
        } else if (record == "block") {
            if (tally.runs.empty() || number(f[1]) != tally.runs.back().index)
                refuse(n, "a block outside its run");
            tally.runs.back().blocks.push_back({number(f[2]), number(f[3])});
            sumsRead = 0;
            blockLine = n;
        } else if (record == "block_sum") {
            if (tally.runs.empty() || tally.runs.back().blocks.empty() || number(f[1]) != tally.runs.back().index
                || sumsRead == sumKeys.size() || f[2] != sumKeys[sumsRead])
                refuse(n, "a block sum out of place: '" + line + "'");
            Tally::Block &block = tally.runs.back().blocks.back();
            if (sumsRead == 0) {
                block.avalanches = number(f[3]);
            } else {
                const std::size_t k = sumsRead - 1;
                block.powers[k / MomentScaling::ORDERS][k % MomentScaling::ORDERS] = sumValue(f[3], path);
            }
            if (++sumsRead == sumKeys.size())
                if (const std::string fault = TallyCheck::blockFault(block); !fault.empty())
                    refuse(blockLine, fault);
        } else {
            const std::int64_t value = number(f[2]), count = number(f[3]);
            // A histogram lists only the values it counts.
            if (!f[1].empty() || (count == 0 && stage != HEIGHTS))
                refuse(n, "malformed line '" + line + "'");
            if (value <= previous)
                refuse(n, record + " " + f[2] + " after " + std::to_string(previous) + ": out of order");
            previous = value;
            if (stage == HEIGHTS) {
                if (value > 3)
                    refuse(n, "height " + f[2] + " out of range");
                tally.heights[std::size_t(value)] = std::uint64_t(count);
            } else {
                const auto observable = Tally::Observable(stage - 1);
                if (value < 1 || value > TallyCheck::largest(observable, side))
                    refuse(n, "an avalanche " + record + " out of range 1 to "
                                  + std::to_string(TallyCheck::largest(observable, side)));
                tally.histograms[observable].add(value, std::uint64_t(count));
            }
        }
    }
    while (stage <= HEIGHTS)
        stageComplete(lines.size() - 1);
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
        SeriesResult::Side entry{side, keys.warmup, readRaw(rawPath, folder, result.grainsPerRun, side)};
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
