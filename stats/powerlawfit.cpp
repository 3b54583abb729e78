#include "powerlawfit.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double TAU_LOW = -10;    // the bracket searched for tau
constexpr double TAU_HIGH = 20;
constexpr int MAX_ITERATIONS = 200;
constexpr double TOLERANCE = 1e-12;

// The mean and variance of ln x under the truncated power law of exponent
// tau; the weights are scaled by xmin^tau so that none underflows.
struct Moments {
    double mean;
    double variance;
};

Moments moments(const std::vector<double> &logs, double tau)
{
    double z = 0, m1 = 0, m2 = 0;
    for (double lx : logs) {
        const double w = std::exp(-tau * (lx - logs.front()));
        z += w;
        m1 += w * lx;
        m2 += w * lx * lx;
    }
    const double mean = m1 / z;
    return {mean, std::max(0.0, m2 / z - mean * mean)};
}

} // namespace

// The likelihood's derivative in tau is n (E_tau[ln x] - mean of ln x), and
// E_tau[ln x] falls as tau grows, so the root is unique: Newton steps, kept
// inside a bracket that shrinks with each step.
PowerLawFit PowerLawFit::fit(const Histogram &histogram, std::int64_t xmin, std::int64_t xmax)
{
    PowerLawFit result;
    result.xmin = xmin;
    result.xmax = xmax;
    if (xmin < 1 || xmax <= xmin)
        return result;

    double sumLogs = 0;
    int distinct = 0;
    histogram.forEach([&](std::int64_t value, std::uint64_t count) {
        if (value >= xmin && value <= xmax) {
            result.samples += count;
            sumLogs += double(count) * std::log(double(value));
            ++distinct;
        }
    });
    if (distinct < 2 || result.samples < MIN_SAMPLES)
        return result;
    const double target = sumLogs / double(result.samples);

    std::vector<double> logs;
    logs.reserve(std::size_t(xmax - xmin + 1));
    for (std::int64_t x = xmin; x <= xmax; ++x)
        logs.push_back(std::log(double(x)));

    double low = TAU_LOW, high = TAU_HIGH, tau = 1.5;
    Moments at = moments(logs, tau);
    for (int i = 0; i < MAX_ITERATIONS; ++i) {
        const double excess = at.mean - target;   // positive: tau too small
        (excess > 0 ? low : high) = tau;
        double next = at.variance > 0 ? tau + excess / at.variance : 0.5 * (low + high);
        if (!(next > low && next < high))
            next = 0.5 * (low + high);
        const bool converged = std::fabs(next - tau) < TOLERANCE;
        tau = next;
        at = moments(logs, tau);
        if (converged || high - low < TOLERANCE)
            break;
    }
    result.tau = tau;
    result.error = 1 / std::sqrt(double(result.samples) * at.variance);
    result.valid = std::isfinite(result.tau) && std::isfinite(result.error);
    return result;
}
