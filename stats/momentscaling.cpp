#include "momentscaling.h"

#include <cmath>
#include <limits>

namespace {

constexpr double NOT_AVAILABLE = std::numeric_limits<double>::quiet_NaN();

// The straight line y = intercept + slope x through points with standard
// errors, by weighted least squares, with the covariance of its two
// parameters. Unweighted, and without errors, when any error is missing.
struct Line {
    double slope = NOT_AVAILABLE, intercept = NOT_AVAILABLE;
    double slopeVariance = NOT_AVAILABLE, interceptVariance = NOT_AVAILABLE, covariance = NOT_AVAILABLE;
};

Line fitLine(const std::vector<double> &x, const std::vector<double> &y, const std::vector<double> &error)
{
    bool weighted = true;
    for (double e : error)
        weighted = weighted && std::isfinite(e) && e > 0;
    double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double w = weighted ? 1 / (error[i] * error[i]) : 1;
        s += w;
        sx += w * x[i];
        sy += w * y[i];
        sxx += w * x[i] * x[i];
        sxy += w * x[i] * y[i];
    }
    const double determinant = s * sxx - sx * sx;
    Line line;
    if (!(determinant > 0))
        return line;
    line.slope = (s * sxy - sx * sy) / determinant;
    line.intercept = (sxx * sy - sx * sxy) / determinant;
    if (weighted) {
        line.slopeVariance = s / determinant;
        line.interceptVariance = sxx / determinant;
        line.covariance = -sx / determinant;
    }
    return line;
}

} // namespace

MomentScaling::Estimate MomentScaling::logSlope(const std::vector<int> &sides, const std::vector<Estimate> &values)
{
    if (sides.size() != values.size())
        return {NOT_AVAILABLE, NOT_AVAILABLE};
    // d ln y = dy / y: the error of a logarithm is the relative error.
    std::vector<double> logSide, logValue, error;
    for (std::size_t i = 0; i < sides.size(); ++i) {
        if (!(values[i].value > 0))
            return {NOT_AVAILABLE, NOT_AVAILABLE};
        logSide.push_back(std::log(double(sides[i])));
        logValue.push_back(std::log(values[i].value));
        error.push_back(values[i].error / values[i].value);
    }
    const Line line = fitLine(logSide, logValue, error);
    return {line.slope, std::sqrt(line.slopeVariance)};
}

MomentScaling MomentScaling::fit(const std::vector<int> &sides, const std::vector<Moments> &moments)
{
    MomentScaling result;
    for (Estimate &e : result.sigma)
        e = {NOT_AVAILABLE, NOT_AVAILABLE};
    result.dimension = result.tau = {NOT_AVAILABLE, NOT_AVAILABLE};
    if (int(sides.size()) < MIN_SIDES || sides.size() != moments.size())
        return result;

    for (int k = 0; k < ORDERS; ++k) {
        std::vector<Estimate> moment;
        for (const Moments &m : moments)
            moment.push_back(m[std::size_t(k)]);
        result.sigma[std::size_t(k)] = logSlope(sides, moment);
        if (!std::isfinite(result.sigma[std::size_t(k)].value))
            return result;
    }

    // sigma(q) = D q + D (1 - tau) over the straight part. The slopes of
    // different orders come from the same avalanches and are correlated;
    // their errors are taken as independent, which the stated errors of D
    // and tau do not correct for.
    std::vector<double> q, sigma, error;
    for (int k = FIRST_LINEAR_ORDER; k < ORDERS; ++k) {
        q.push_back(order(k));
        sigma.push_back(result.sigma[std::size_t(k)].value);
        error.push_back(result.sigma[std::size_t(k)].error);
    }
    const Line line = fitLine(q, sigma, error);
    const double d = line.slope, b = line.intercept;
    result.dimension = {d, std::sqrt(line.slopeVariance)};
    // tau = 1 - b / D; its variance by propagating the fit's covariance.
    const double tauVariance = line.interceptVariance / (d * d) + b * b * line.slopeVariance / (d * d * d * d)
                               - 2 * b * line.covariance / (d * d * d);
    result.tau = {1 - b / d, std::sqrt(tauVariance)};
    result.valid = std::isfinite(d) && d != 0;
    return result;
}
