#include "csvschema.h"

#include "cformat.h"
#include "csvfolder.h"
#include "exactvalues.h"
#include "report.h"
#include "series.h"
#include "engine/lattice.h"
#include "engine/random.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace CsvSchema {

std::string sideFile(const std::string &kind, int side)
{
    return kind + "_L" + std::to_string(side) + ".csv";
}

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

SummaryRow summaryRow(const SeriesResult &result, const SeriesResult::Side &measured, const SideSummary &side)
{
    std::string runs = Report::runList(measured.tally.runIndices());
    std::replace(runs.begin(), runs.end(), ',', ';');
    return {{measured.side, result.seed, std::int64_t(result.start), result.grainsPerRun, measured.warmup}, runs, side};
}

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
        using Limits = Series::Settings;
        key("L", &SummaryKeys::side, Lattice::MIN_SIDE, Limits::MAX_SIDE);
        key("seed", &SummaryKeys::seed, 1, Random::MODULUS - 1);
        const std::vector<std::string> starts{std::string(startingPileName(StartingPile::Stationary)),
                                              std::string(startingPileName(StartingPile::Window))};
        c.push_back({"start", Column::Key,
                     [starts](const SummaryRow &row) { return starts[std::size_t(row.keys.start)]; },
                     &SummaryKeys::start, 0, std::int64_t(starts.size()) - 1, starts});
        checked("runs", [](const SummaryRow &row) { return row.runs; });
        key("grains_per_run", &SummaryKeys::grainsPerRun, 1, Limits::MAX_COUNT);
        key("warmup", &SummaryKeys::warmup, 0, Limits::MAX_COUNT);
        checked("partial", [](const SummaryRow &row) { return std::string(row.side.interrupted ? "1" : "0"); });
        checked("grains", whole(&SideSummary::grains));
        checked("avalanches", whole(&SideSummary::avalanches));
        checked("topplings", whole(&SideSummary::topplings));
        for (int o = 0; o < Tally::OBSERVABLES; ++o)
            checked(std::string("largest_") + Tally::OBSERVABLE_NAMES[o],
                    [o](const SummaryRow &row) { return std::to_string(row.side.largest[std::size_t(o)]); });
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
        for (int o = 0; o < Tally::OBSERVABLES; ++o) {
            const std::string name = Tally::OBSERVABLE_NAMES[o];
            const auto fit = [o](const SummaryRow &row) -> const PowerLawFit & { return row.side.fits[std::size_t(o)]; };
            constexpr double NONE = std::numeric_limits<double>::quiet_NaN();   // an empty field
            figure("tau_eff_" + name, [fit](const SummaryRow &row) { return fit(row).valid ? fit(row).tau : NONE; });
            figure("tau_eff_" + name + "_se",
                   [fit](const SummaryRow &row) { return fit(row).valid ? fit(row).error : NONE; });
            checked(name + "_xmin", [fit](const SummaryRow &row) { return std::to_string(fit(row).xmin); });
            checked(name + "_xmax", [fit](const SummaryRow &row) { return std::to_string(fit(row).xmax); });
            checked(name + "_n", [fit](const SummaryRow &row) { return std::to_string(fit(row).samples); });
        }
        return c;
    }();
    return columns;
}

} // namespace CsvSchema

std::vector<std::string> CsvFolder::fileNames(const std::vector<int> &sides)
{
    std::vector<std::string> names{CsvSchema::SUMMARY_FILE, CsvSchema::MOMENTS_FILE, CsvSchema::SCALING_FILE};
    for (int side : sides) {
        for (const char *observable : Tally::OBSERVABLE_NAMES)
            names.push_back(CsvSchema::sideFile(observable, side));
        names.push_back(CsvSchema::sideFile(CsvSchema::RAW, side));
    }
    return names;
}
