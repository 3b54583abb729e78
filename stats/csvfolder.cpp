#include "csvfolder.h"

#include "atomicfiles.h"
#include "exactvalues.h"
#include "options.h"
#include "engine/lattice.h"
#include "cformat.h"
#include "report.h"
#include "sidesummary.h"
#include "strictnumber.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace CsvFolder {

namespace {

const char *const SUMMARY_HEADER =
    "L,seed,runs,grains_per_run,warmup,partial,grains,avalanches,topplings,"
    "largest_size,largest_area,largest_duration,"
    "topplings_per_grain,topplings_per_grain_se,topplings_per_grain_exact,"
    "mean_height,mean_height_exact,height_piles,p0,p0_exact,p1,p1_exact,p2,p2_exact,p3,p3_exact,"
    "tau_size,tau_size_se,size_xmin,size_xmax,size_n,"
    "tau_area,tau_area_se,area_xmin,area_xmax,area_n,"
    "tau_duration,tau_duration_se,duration_xmin,duration_xmax,duration_n";
const char *const DISTRIBUTION_HEADER = "bin_low,bin_high,count,density";
const char *const RAW_HEADER = "record,run,key,value";
constexpr int SUMMARY_FIXED_COLUMNS = 5;   // L, seed, runs, grains_per_run, warmup

std::string real(double value)
{
    return std::isfinite(value) ? cformat("%.10g", value) : "";
}

std::string fitColumns(const PowerLawFit &fit)
{
    return (fit.valid ? real(fit.tau) + "," + real(fit.error) : std::string(",")) + ","
           + std::to_string(fit.xmin) + "," + std::to_string(fit.xmax) + "," + std::to_string(fit.samples);
}

std::string sidePath(const std::string &folder, const char *name, int side)
{
    return (std::filesystem::path(folder) / (std::string(name) + "_L" + std::to_string(side) + ".csv")).string();
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

// The lines of a file of this tool, its header checked.
std::vector<std::string> readLines(const std::string &path, const char *header, const std::string &folder)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error(folder + " is not a folder of sandpile-stats output: cannot read " + path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    if (lines.empty() || lines.front() != header)
        throw std::runtime_error(folder + " is not a folder of sandpile-stats output: " + path
                                 + " has not the expected columns");
    lines.erase(lines.begin());
    return lines;
}

std::int64_t whole(const std::string &text, const std::string &path)
{
    std::int64_t value = 0;
    if (!parseWhole(text, value))
        throw std::runtime_error(path + ": '" + text + "' is not a whole number");
    return value;
}

Tally readRaw(const std::string &path, const std::string &folder)
{
    Tally tally;
    for (const std::string &line : readLines(path, RAW_HEADER, folder)) {
        const std::vector<std::string> f = split(line);
        if (f.size() != 4)
            throw std::runtime_error(path + ": malformed line '" + line + "'");
        const std::string &record = f[0];
        if (record == "run") {
            const std::int64_t index = whole(f[1], path);
            if (!tally.runs.empty() && index <= tally.runs.back().index)
                throw std::runtime_error(path + ": runs out of order");
            tally.runs.push_back({index, whole(f[3], path) != 0, {}});
        } else if (record == "block") {
            if (tally.runs.empty() || whole(f[1], path) != tally.runs.back().index)
                throw std::runtime_error(path + ": a block outside its run");
            tally.runs.back().blocks.push_back({whole(f[2], path), whole(f[3], path)});
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
    return tally;
}

} // namespace

std::string summaryCsv(const SeriesSummary &summary)
{
    const SeriesResult &result = summary.result;
    std::string text = std::string(SUMMARY_HEADER) + "\n";
    // The run list ("0-3,7") with ';' between ranges, to stay one field.
    std::string runs = Report::runList(result.runs());
    std::replace(runs.begin(), runs.end(), ',', ';');
    for (const SideSummary &s : summary.sides) {
        text += std::to_string(s.side) + "," + std::to_string(result.seed) + "," + runs + ","
                + std::to_string(result.grainsPerRun) + "," + std::to_string(s.warmup) + ","
                + (s.interrupted ? "1" : "0") + "," + std::to_string(s.grains) + ","
                + std::to_string(s.avalanches) + "," + std::to_string(s.topplings) + ","
                + std::to_string(s.largestSize) + "," + std::to_string(s.largestArea) + ","
                + std::to_string(s.largestDuration) + "," + real(s.topplingsPerGrain) + ","
                + real(s.topplingsError) + "," + real(s.exactTopplings) + "," + real(s.meanHeight) + ","
                + real(ExactValues::meanHeight()) + "," + std::to_string(s.piles);
        for (int z = 0; z < 4; ++z)
            text += "," + real(s.heightProbability[std::size_t(z)]) + "," + real(ExactValues::heightProbability(z));
        text += "," + fitColumns(s.sizeFit) + "," + fitColumns(s.areaFit) + "," + fitColumns(s.durationFit) + "\n";
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
        for (const Tally::Block &block : run.blocks)
            text += "block," + std::to_string(run.index) + "," + std::to_string(block.grains) + ","
                    + std::to_string(block.topplings) + "\n";
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
    const std::vector<std::string> rows = readLines(summaryPath, SUMMARY_HEADER, folder);
    if (rows.empty())
        throw std::runtime_error(folder + " is not a folder of sandpile-stats output: " + summaryPath + " is empty");
    SeriesResult result;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::vector<std::string> f = split(rows[r]);
        if (f.size() < SUMMARY_FIXED_COLUMNS)
            throw std::runtime_error(summaryPath + ": malformed line '" + rows[r] + "'");
        const std::int64_t side = whole(f[0], summaryPath);
        const std::int64_t seed = whole(f[1], summaryPath);
        const std::int64_t grains = whole(f[3], summaryPath);
        if (r == 0) {
            result.seed = seed;
            result.grainsPerRun = grains;
        } else if (seed != result.seed || grains != result.grainsPerRun) {
            throw std::runtime_error(summaryPath + ": rows of different series");
        }
        if (grains < 1 || grains > Options::MAX_COUNT)
            throw std::runtime_error(summaryPath + ": grains per run " + f[3] + " out of range");
        if (side < Lattice::MIN_SIDE || side > Options::MAX_SIDE)
            throw std::runtime_error(summaryPath + ": lattice side " + f[0] + " out of range");
        SeriesResult::Side entry{int(side), whole(f[4], summaryPath),
                                 readRaw(sidePath(folder, "raw", int(side)), folder)};
        if (r > 0 && entry.tally.runIndices() != result.sides.front().tally.runIndices())
            throw std::runtime_error(folder + ": the sides hold different runs");
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
        }
    }
    return merged;
}

} // namespace CsvFolder
