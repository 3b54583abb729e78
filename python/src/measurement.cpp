#include "measurement.h"

#include "stats/report.h"
#include "stats/seriessummary.h"

Measurement::Measurement(const Series::Settings &settings, SeriesResult result)
    : seed(settings.seed)
    , grainsPerRun(settings.grains)
    , interrupted(result.interrupted())
{
    for (std::int64_t k = 0; k < settings.runs; ++k)
        runs.push_back(settings.firstRun + k);
    const SeriesSummary summary(std::move(result));
    // The tool's header lists the runs asked for, printed before they start.
    report = Report::header(seed, runs, grainsPerRun, settings.start) + Report::body(summary);
    for (std::size_t s = 0; s < summary.sides.size(); ++s)
        sides.push_back({summary.sides[s], summary.result.sides[s].tally});
}
