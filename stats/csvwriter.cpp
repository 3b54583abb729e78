// The files of a CSV folder, written as csvschema.h lays them out.

#include "csvfolder.h"

#include "atomicfiles.h"
#include "cformat.h"
#include "csvschema.h"

#include <filesystem>
#include <limits>
#include <stdexcept>

namespace CsvFolder {

using namespace CsvSchema;

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
    for (const Histogram::Bin &bin : histogram.logBins())
        text += cformat("%lld,%lld,%llu,%.6e\n", (long long)bin.low, (long long)bin.high,
                        (unsigned long long)bin.count, bin.density);
    return text;
}

std::string rawCsv(const Tally &tally)
{
    std::string text = std::string(RAW_HEADER) + "\n";
    const std::vector<std::string> &keys = blockSumKeys();
    for (const Tally::Run &run : tally.runs) {
        text += "run," + std::to_string(run.index) + ",interrupted," + (run.interrupted ? "1" : "0") + "\n";
        const std::string index = std::to_string(run.index);
        for (const Tally::Block &block : run.blocks) {
            text += "block," + index + "," + std::to_string(block.grains) + "," + std::to_string(block.topplings)
                    + "\n";
            text += "block_sum," + index + "," + keys[0] + "," + std::to_string(block.avalanches) + "\n";
            for (std::size_t k = 1; k < keys.size(); ++k)
                text += "block_sum," + index + "," + keys[k] + ","
                        + cformat("%.17g", block.powers[(k - 1) / MomentScaling::ORDERS][(k - 1) % MomentScaling::ORDERS])
                        + "\n";
        }
    }
    for (int o = 0; o < Tally::OBSERVABLES; ++o)
        tally.histograms[std::size_t(o)].forEach([&](std::int64_t value, std::uint64_t count) {
            text += std::string(Tally::OBSERVABLE_NAMES[o]) + ",," + std::to_string(value) + "," + std::to_string(count)
                    + "\n";
        });
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
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + folder + ": " + error.message());
    const auto path = [&folder](const std::string &name) { return (std::filesystem::path(folder) / name).string(); };
    const auto contents = [&summary](const std::string &name) {
        if (name == SUMMARY_FILE)
            return summaryCsv(summary);
        if (name == MOMENTS_FILE)
            return momentsCsv(summary);
        if (name == SCALING_FILE)
            return scalingCsv(summary);
        for (const SeriesResult::Side &side : summary.result.sides) {
            for (int o = 0; o < Tally::OBSERVABLES; ++o)
                if (name == sideFile(Tally::OBSERVABLE_NAMES[o], side.side))
                    return distributionCsv(side.tally.histograms[std::size_t(o)]);
            if (name == sideFile(RAW, side.side))
                return rawCsv(side.tally);
        }
        throw std::logic_error("no contents for " + name);
    };
    std::vector<int> sides;
    for (const SeriesResult::Side &side : summary.result.sides)
        sides.push_back(side.side);
    // The very names the writability check walked. summary.csv goes last:
    // --merge reads only a folder that has it.
    AtomicFiles files;
    for (const std::string &name : fileNames(sides)) {
        if (name == SUMMARY_FILE)
            files.addMarker(path(name), contents(name));
        else
            files.add(path(name), contents(name));
    }
    files.commit();
}

} // namespace CsvFolder
