#include "report.h"

#include "checkedmath.h"
#include "cformat.h"
#include "exactvalues.h"
#include "measurer.h"
#include "sidesummary.h"

#include <cmath>
#include <cstdio>

namespace Report {

std::string runList(const std::vector<std::int64_t> &runs)
{
    std::string list;
    for (std::size_t i = 0; i < runs.size();) {
        std::size_t j = i;
        while (j + 1 < runs.size() && runs[j + 1] == runs[j] + 1)
            ++j;
        list += (list.empty() ? "" : ",") + std::to_string(runs[i]);
        if (j > i)
            list += "-" + std::to_string(runs[j]);
        i = j + 1;
    }
    return list;
}

std::string header(std::int64_t seed, const std::vector<std::int64_t> &runs, std::int64_t grainsPerRun,
                   StartingPile start)
{
    return cformat("Bak-Tang-Wiesenfeld sandpile: seed %lld, run%s %s, %lld grains measured per run, start %s\n",
                   (long long)seed, runs.size() == 1 ? "" : "s", runList(runs).c_str(), (long long)grainsPerRun,
                   std::string(startingPileName(start)).c_str());
}

namespace {

std::string number(double value, const char *pattern = "%.4f")
{
    return std::isfinite(value) ? cformat(pattern, value) : "n/a";
}

std::string fitLine(const char *quantity, const char *symbol, const PowerLawFit &fit)
{
    const std::string label = cformat("tau_eff (%s)", quantity);
    if (!fit.valid && fit.xmax >= fit.xmin && fit.samples < PowerLawFit::MIN_SAMPLES)
        return cformat("  %-22s n/a: %llu avalanches in %lld <= %s <= %lld, fewer than the %llu a fit needs\n",
                       label.c_str(), (unsigned long long)fit.samples, (long long)fit.xmin, symbol,
                       (long long)fit.xmax, (unsigned long long)PowerLawFit::MIN_SAMPLES);
    if (!fit.valid)
        return cformat("  %-22s n/a: no fit window below the cut-off, or too few values\n", label.c_str());
    return cformat("  %-22s %s ± %-8s fit over %lld <= %s <= %lld, %llu avalanches\n", label.c_str(),
                  number(fit.tau).c_str(), number(fit.error).c_str(), (long long)fit.xmin, symbol,
                  (long long)fit.xmax, (unsigned long long)fit.samples);
}

// a x b, exactly, for any counts (a merged series can ask for more grains
// than an int64 holds).
std::string product(std::int64_t a, std::int64_t b)
{
    Checked::Wide value = (Checked::Wide)(std::uint64_t)a * (std::uint64_t)b;
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(value % 10)));
        value /= 10;
    } while (value != 0);
    return digits;
}

std::string sideBlock(const SeriesResult &result, const SideSummary &s)
{
    std::string text = cformat("\nL = %d: %lld sites, %lld warm-up grains per run%s\n", s.side,
                              (long long)s.side * s.side, (long long)s.warmup,
                              s.interrupted ? " (partial)" : "");
    text += cformat("  %-22s %lld of %s asked for\n", "grains measured", (long long)s.grains,
                   product(result.grainsPerRun, s.runs).c_str());
    text += cformat("  %-22s %llu\n", "avalanches", (unsigned long long)s.avalanches);
    text += cformat("  %-22s s = %lld topplings, area = %lld sites, duration = %lld sweeps\n",
                   "largest avalanche", (long long)s.largest[Tally::Size], (long long)s.largest[Tally::Area],
                   (long long)s.largest[Tally::Duration]);
    const double deviation = 100 * (s.topplingsPerGrain / s.exactTopplings - 1);
    text += cformat("  %-22s %s ± %-8s exact %.4f (%s %%)\n", "topplings per grain",
                   number(s.topplingsPerGrain).c_str(), number(s.topplingsError).c_str(),
                   s.exactTopplings, number(deviation, "%+.2f").c_str());
    text += cformat("  %-22s %-19s infinite lattice %.4f (%llu piles sampled)\n", "mean height",
                   number(s.meanHeight).c_str(), ExactValues::meanHeight(), (unsigned long long)s.piles);
    for (int z = 0; z < 4; ++z)
        text += cformat("  P(z = %d)%14s %-19s infinite lattice %.4f\n", z, "",
                       number(s.heightProbability[std::size_t(z)]).c_str(),
                       ExactValues::heightProbability(z));
    for (int o = 0; o < Tally::OBSERVABLES; ++o)
        text += fitLine(Tally::OBSERVABLE_NAMES[o], Tally::OBSERVABLE_SYMBOLS[o], s.fits[std::size_t(o)]);
    return text;
}

// "1.2345 ± 0.0067   ": one figure of the scaling table, aligned.
std::string estimate(const MomentScaling::Estimate &e)
{
    return cformat("%7s ± %-8s  ", number(e.value).c_str(), number(e.error).c_str());
}

std::string scalingBlock(const SeriesSummary &summary)
{
    std::string sides;
    for (const SideSummary &side : summary.sides)
        sides += (sides.empty() ? "" : ", ") + std::to_string(side.side);
    std::string text = cformat("\nMoments over L = %s: <x^q> ~ L^sigma(q), sigma(q) = D (q + 1 - tau) for q >= %.0f\n",
                               sides.c_str(), MomentScaling::order(MomentScaling::FIRST_LINEAR_ORDER));
    std::string header = cformat("  %-22s", "x");
    for (int o = 0; o < Tally::OBSERVABLES; ++o)
        header += cformat(" %-19s", cformat("%s (%s)", Tally::OBSERVABLE_SYMBOLS[o], Tally::OBSERVABLE_NAMES[o]).c_str());
    text += header.substr(0, header.find_last_not_of(' ') + 1) + "\n";
    const auto row = [&](const std::string &label, auto estimateOf) {
        std::string line = cformat("  %-22s", label.c_str());
        for (const MomentScaling &scaling : summary.scaling)
            line += estimate(estimateOf(scaling));
        return line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    };
    for (int k = 0; k < MomentScaling::ORDERS; ++k)
        text += row(cformat("sigma(%.1f)", MomentScaling::order(k)),
                    [k](const MomentScaling &s) { return s.sigma[std::size_t(k)]; });
    text += row("D", [](const MomentScaling &s) { return s.dimension; });
    text += row("tau", [](const MomentScaling &s) { return s.tau; });

    constexpr int FIRST_ORDER = 1;   // q = 1
    static_assert(MomentScaling::order(FIRST_ORDER) == 1.0);
    text += cformat("  %-22s %s ± %-8s exact %s, from topplings per grain\n", "sigma_s(1) per grain",
                    number(summary.topplingsSlope.value).c_str(), number(summary.topplingsSlope.error).c_str(),
                    number(summary.exactTopplingsSlope).c_str());
    const MomentScaling::Estimate perAvalanche = summary.scaling[Tally::Size].sigma[FIRST_ORDER];
    text += cformat("  %-22s %s ± %-8s per avalanche\n", "sigma_s(1)", number(perAvalanche.value).c_str(),
                    number(perAvalanche.error).c_str());
    text += "  Per avalanche = per grain + the slope of grains per avalanche, which tends to 0 as L grows.\n";
    text += "  Errors: batch means of each moment, propagated through weighted least squares; the sigma(q)\n"
            "  of different q are correlated, which the errors of D and tau ignore.\n";
    return text;
}

} // namespace

std::string body(const SeriesSummary &summary)
{
    std::string text;
    if (summary.result.interrupted())
        text += "PARTIAL: interrupted; the statistics of the grains measured so far\n";
    for (const SideSummary &side : summary.sides)
        text += sideBlock(summary.result, side);
    if (summary.scaled)
        text += scalingBlock(summary);
    text += cformat("\nErrors: batch means over blocks of 2^k L^2 consecutive grains, at most %d per run.\n"
                   "Heights: the whole pile after every L^2/%lld grains. tau_eff: discrete power-law maximum\n"
                   "likelihood (Clauset, Shalizi and Newman 2009) truncated to the window shown, an effective\n"
                   "exponent that drifts with the window and L.\n",
                   Tally::MAX_BLOCKS_PER_RUN, (long long)Measurer::HEIGHT_SAMPLES_PER_L2);
    return text;
}

} // namespace Report
