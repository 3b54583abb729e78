#include "csvfolder.h"

#include "atomicfiles.h"
#include "exactvalues.h"
#include "options.h"
#include "engine/lattice.h"
#include "cformat.h"
#include "report.h"
#include "sidesummary.h"
#include "strictnumber.h"
#include "tallycheck.h"
#include "engine/random.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace CsvFolder {

namespace {

const char *const DISTRIBUTION_HEADER = "bin_low,bin_high,count,density";
const char *const RAW_HEADER = "record,run,key,value";
const char *const MOMENTS_HEADER = "L,observable,q,moment,error";
const char *const SCALING_HEADER = "observable,quantity,q,value,error";

// The keys of a block's "block_sum" rows, in the order written: its
// avalanches, then each observable's power sums by order.
const std::vector<std::string> &blockSumKeys()
{
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k{"avalanches"};
        for (const char *name : Tally::OBSERVABLE_NAMES)
            for (int q = 0; q < MomentScaling::ORDERS; ++q)
                k.push_back(cformat("%s^%g", name, MomentScaling::order(q)));
        return k;
    }();
    return keys;
}

std::string real(double value)
{
    return std::isfinite(value) ? cformat("%.10g", value) : "";
}

std::string sidePath(const std::string &folder, const char *name, int side)
{
    return (std::filesystem::path(folder) / (std::string(name) + "_L" + std::to_string(side) + ".csv")).string();
}

// What a row of summary.csv says of its series; the reader puts these
// back into the result.
struct SummaryKeys {
    std::int64_t side = 0;
    std::int64_t seed = 0;
    std::int64_t start = 0;   // a StartingPile
    std::int64_t grainsPerRun = 0;
    std::int64_t warmup = 0;
};

// One row of summary.csv: a side of a series and its statistics.
struct SummaryRow {
    SummaryKeys keys;
    std::string runs;   // the run list, with ';' between ranges to stay one field
    const SideSummary &side;
};

// The columns of summary.csv, in the order written. The reader finds them
// by name: a key goes back into the result (within its range), a checked
// column must equal what the side's raw file gives, and a figure is only
// for the user (floating point, remade from the raw file).
struct Column {
    enum Use { Key, Checked, Figure };
    std::string name;
    Use use;
    std::function<std::string(const SummaryRow &)> text;
    std::int64_t SummaryKeys::*key = nullptr;   // a Key's place, and its range
    std::int64_t low = 0, high = 0;
    std::vector<std::string> names{};           // a Key written by name: value k is names[k]
};

const std::vector<Column> &summaryColumns()
{
    static const std::vector<Column> columns = [] {
        std::vector<Column> c;
        const auto key = [&c](const char *name, std::int64_t SummaryKeys::*place, std::int64_t low,
                              std::int64_t high) {
            c.push_back({name, Column::Key,
                         [place](const SummaryRow &row) { return std::to_string(row.keys.*place); }, place, low,
                         high});
        };
        const auto checked = [&c](std::string name, std::function<std::string(const SummaryRow &)> text) {
            c.push_back({std::move(name), Column::Checked, std::move(text)});
        };
        const auto figure = [&c](std::string name, std::function<double(const SummaryRow &)> value) {
            c.push_back({std::move(name), Column::Figure,
                         [value](const SummaryRow &row) { return real(value(row)); }});
        };
        const auto whole = [](auto member) {
            return [member](const SummaryRow &row) { return std::to_string(row.side.*member); };
        };
        key("L", &SummaryKeys::side, Lattice::MIN_SIDE, Options::MAX_SIDE);
        key("seed", &SummaryKeys::seed, 1, Random::MODULUS - 1);
        const std::vector<std::string> starts{std::string(startingPileName(StartingPile::Stationary)),
                                              std::string(startingPileName(StartingPile::Window))};
        c.push_back({"start", Column::Key,
                     [starts](const SummaryRow &row) { return starts[std::size_t(row.keys.start)]; },
                     &SummaryKeys::start, 0, std::int64_t(starts.size()) - 1, starts});
        checked("runs", [](const SummaryRow &row) { return row.runs; });
        key("grains_per_run", &SummaryKeys::grainsPerRun, 1, Options::MAX_COUNT);
        key("warmup", &SummaryKeys::warmup, 0, Options::MAX_COUNT);
        checked("partial", [](const SummaryRow &row) { return std::string(row.side.interrupted ? "1" : "0"); });
        checked("grains", whole(&SideSummary::grains));
        checked("avalanches", whole(&SideSummary::avalanches));
        checked("topplings", whole(&SideSummary::topplings));
        checked("largest_size", whole(&SideSummary::largestSize));
        checked("largest_area", whole(&SideSummary::largestArea));
        checked("largest_duration", whole(&SideSummary::largestDuration));
        figure("topplings_per_grain", [](const SummaryRow &row) { return row.side.topplingsPerGrain; });
        figure("topplings_per_grain_se", [](const SummaryRow &row) { return row.side.topplingsError; });
        figure("topplings_per_grain_exact", [](const SummaryRow &row) { return row.side.exactTopplings; });
        figure("mean_height", [](const SummaryRow &row) { return row.side.meanHeight; });
        figure("mean_height_exact", [](const SummaryRow &) { return ExactValues::meanHeight(); });
        checked("height_piles", whole(&SideSummary::piles));
        for (int z = 0; z < 4; ++z) {
            const std::string p = "p" + std::to_string(z);
            figure(p, [z](const SummaryRow &row) { return row.side.heightProbability[std::size_t(z)]; });
            figure(p + "_exact", [z](const SummaryRow &) { return ExactValues::heightProbability(z); });
        }
        for (const auto &[quantity, fit] : {std::pair{"size", &SideSummary::sizeFit},
                                            {"area", &SideSummary::areaFit},
                                            {"duration", &SideSummary::durationFit}}) {
            const std::string name = quantity;
            constexpr double NONE = std::numeric_limits<double>::quiet_NaN();   // an empty field
            figure("tau_eff_" + name, [fit](const SummaryRow &row) { return (row.side.*fit).valid ? (row.side.*fit).tau : NONE; });
            figure("tau_eff_" + name + "_se",
                   [fit](const SummaryRow &row) { return (row.side.*fit).valid ? (row.side.*fit).error : NONE; });
            checked(name + "_xmin", [fit](const SummaryRow &row) { return std::to_string((row.side.*fit).xmin); });
            checked(name + "_xmax", [fit](const SummaryRow &row) { return std::to_string((row.side.*fit).xmax); });
            checked(name + "_n", [fit](const SummaryRow &row) { return std::to_string((row.side.*fit).samples); });
        }
        return c;
    }();
    return columns;
}

SummaryRow summaryRow(const SeriesResult &result, const SeriesResult::Side &measured, const SideSummary &side)
{
    std::string runs = Report::runList(measured.tally.runIndices());
    std::replace(runs.begin(), runs.end(), ',', ';');
    return {{measured.side, result.seed, std::int64_t(result.start), result.grainsPerRun, measured.warmup}, runs, side};
}

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

// The lines after a fixed header.
std::vector<std::string> readRows(const std::string &path, const char *header, const std::string &folder)
{
    std::vector<std::string> lines = readLines(path, folder);
    if (lines.front() != header)
        throw std::runtime_error(folder + " is not a folder of sandpile-stats output: " + path
                                 + " has not the expected columns");
    lines.erase(lines.begin());
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
        if (at == names.end() && std::find(names.begin(), names.end(), "tau_size") != names.end())
            throw std::runtime_error(path + ": written by an earlier sandpile-stats, whose raw files lack the "
                                            "blocks' moment sums: measure the series again");
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
    Tally tally;
    const std::vector<std::string> &sumKeys = blockSumKeys();
    std::size_t sumsRead = sumKeys.size();   // of the last block: none is missing before the first
    const auto blockComplete = [&] {
        if (sumsRead != sumKeys.size())
            throw std::runtime_error(path + ": a block without its " + sumKeys[sumsRead] + " sum");
    };
    for (const std::string &line : readRows(path, RAW_HEADER, folder)) {
        const std::vector<std::string> f = split(line);
        if (f.size() != 4)
            throw std::runtime_error(path + ": malformed line '" + line + "'");
        const std::string &record = f[0];
        if (record != "block_sum")
            blockComplete();
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
        } else if (record == "size" || record == "area" || record == "duration") {
            Histogram &histogram = record == "size" ? tally.size : record == "area" ? tally.area : tally.duration;
            histogram.add(whole(f[2], path), std::uint64_t(whole(f[3], path)));
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

std::string summaryCsv(const SeriesSummary &summary)
{
    std::string text;
    for (const Column &column : summaryColumns())
        text += (text.empty() ? "" : ",") + column.name;
    text += "\n";
    for (std::size_t s = 0; s < summary.sides.size(); ++s) {
        const SummaryRow row = summaryRow(summary.result, summary.result.sides[s], summary.sides[s]);
        std::string line;
        for (const Column &column : summaryColumns())
            line += (line.empty() ? "" : ",") + column.text(row);
        text += line + "\n";
    }
    return text;
}

std::string distributionCsv(const Histogram &histogram)
{
    std::string text = std::string(DISTRIBUTION_HEADER) + "\n";
    const double total = double(histogram.total());
    for (const Histogram::Bin &bin : histogram.logBins()) {
        const double width = double(bin.high - bin.low + 1);
        text += cformat("%lld,%lld,%llu,%.6e\n", (long long)bin.low, (long long)bin.high,
                               (unsigned long long)bin.count, double(bin.count) / (total * width));
    }
    return text;
}

std::string rawCsv(const Tally &tally)
{
    std::string text = std::string(RAW_HEADER) + "\n";
    for (const Tally::Run &run : tally.runs) {
        text += "run," + std::to_string(run.index) + ",interrupted," + (run.interrupted ? "1" : "0") + "\n";
        const std::string index = std::to_string(run.index);
        for (const Tally::Block &block : run.blocks) {
            text += "block," + index + "," + std::to_string(block.grains) + "," + std::to_string(block.topplings)
                    + "\n";
            const std::vector<std::string> &keys = blockSumKeys();
            text += "block_sum," + index + "," + keys[0] + "," + std::to_string(block.avalanches) + "\n";
            for (std::size_t k = 1; k < keys.size(); ++k)
                text += "block_sum," + index + "," + keys[k] + ","
                        + cformat("%.17g", block.powers[(k - 1) / MomentScaling::ORDERS][(k - 1) % MomentScaling::ORDERS])
                        + "\n";
        }
    }
    const auto histogram = [&text](const char *name, const Histogram &h) {
        h.forEach([&](std::int64_t value, std::uint64_t count) {
            text += std::string(name) + ",," + std::to_string(value) + "," + std::to_string(count) + "\n";
        });
    };
    histogram("size", tally.size);
    histogram("area", tally.area);
    histogram("duration", tally.duration);
    for (std::size_t z = 0; z < tally.heights.size(); ++z)
        text += "height,," + std::to_string(z) + "," + std::to_string(tally.heights[z]) + "\n";
    return text;
}

std::string momentsCsv(const SeriesSummary &summary)
{
    std::string text = std::string(MOMENTS_HEADER) + "\n";
    for (const SideSummary &side : summary.sides)
        for (int o = 0; o < Tally::OBSERVABLES; ++o)
            for (int k = 0; k < MomentScaling::ORDERS; ++k) {
                const MomentScaling::Estimate &m = side.moments[std::size_t(o)][std::size_t(k)];
                text += cformat("%d,%s,%g,", side.side, Tally::OBSERVABLE_NAMES[o], MomentScaling::order(k))
                        + real(m.value) + "," + real(m.error) + "\n";
            }
    return text;
}

std::string scalingCsv(const SeriesSummary &summary)
{
    std::string text = std::string(SCALING_HEADER) + "\n";
    if (!summary.scaled)
        return text;
    const auto row = [&text](const char *observable, const char *quantity, const std::string &q,
                             const MomentScaling::Estimate &e) {
        text += std::string(observable) + "," + quantity + "," + q + "," + real(e.value) + "," + real(e.error) + "\n";
    };
    for (int o = 0; o < Tally::OBSERVABLES; ++o) {
        const MomentScaling &scaling = summary.scaling[std::size_t(o)];
        const char *name = Tally::OBSERVABLE_NAMES[o];
        for (int k = 0; k < MomentScaling::ORDERS; ++k)
            row(name, "sigma", cformat("%g", MomentScaling::order(k)), scaling.sigma[std::size_t(k)]);
        row(name, "D", "", scaling.dimension);
        row(name, "tau", "", scaling.tau);
    }
    const double none = std::numeric_limits<double>::quiet_NaN();   // an empty field
    row(Tally::OBSERVABLE_NAMES[Tally::Size], "sigma_per_grain", "1", summary.topplingsSlope);
    row(Tally::OBSERVABLE_NAMES[Tally::Size], "sigma_per_grain_exact", "1", {summary.exactTopplingsSlope, none});
    return text;
}

void write(const SeriesSummary &summary, const std::string &folder)
{
    const SeriesResult &result = summary.result;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + folder + ": " + error.message());
    // summary.csv goes last: --merge reads only a folder that has it.
    AtomicFiles files;
    files.addMarker((std::filesystem::path(folder) / "summary.csv").string(), summaryCsv(summary));
    files.add((std::filesystem::path(folder) / "moments.csv").string(), momentsCsv(summary));
    files.add((std::filesystem::path(folder) / "scaling.csv").string(), scalingCsv(summary));
    for (const SeriesResult::Side &side : result.sides) {
        files.add(sidePath(folder, "size", side.side), distributionCsv(side.tally.size));
        files.add(sidePath(folder, "area", side.side), distributionCsv(side.tally.area));
        files.add(sidePath(folder, "duration", side.side), distributionCsv(side.tally.duration));
        files.add(sidePath(folder, "raw", side.side), rawCsv(side.tally));
    }
    files.commit();
}

SeriesResult read(const std::string &folder)
{
    const std::string summaryPath = (std::filesystem::path(folder) / "summary.csv").string();
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
        const std::string rawPath = sidePath(folder, "raw", side);
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
        if (i == 0) {
            merged = std::move(part);
            continue;
        }
        const std::string between = folders.front() + " and " + folders[i];
        if (part.seed != merged.seed)
            throw std::runtime_error("cannot merge " + between + ": they mix seeds " + std::to_string(merged.seed)
                                     + " and " + std::to_string(part.seed));
        if (part.start != merged.start)
            throw std::runtime_error("cannot merge " + between + ": they start from different piles");
        if (part.grainsPerRun != merged.grainsPerRun)
            throw std::runtime_error("cannot merge " + between + ": they measured different numbers of grains per run");
        if (part.sides.size() != merged.sides.size())
            throw std::runtime_error("cannot merge " + between + ": they hold different lattice sides");
        for (std::size_t s = 0; s < part.sides.size(); ++s) {
            SeriesResult::Side &into = merged.sides[s];
            if (part.sides[s].side != into.side || part.sides[s].warmup != into.warmup)
                throw std::runtime_error("cannot merge " + between
                                         + ": they hold different lattice sides or warm-ups");
            if (!into.tally.merge(part.sides[s].tally))
                throw std::runtime_error("cannot merge " + between + ": they share runs");
            // Each part is checked, so no total wrapped in the merge.
            if (const std::string fault = TallyCheck::fault(into, merged.grainsPerRun); !fault.empty())
                throw std::runtime_error("cannot merge " + between + ": L = " + std::to_string(into.side) + ": "
                                         + fault);
        }
    }
    return merged;
}

} // namespace CsvFolder
