#include "potentialkernel.h"

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <utility>

namespace {

// Gauss-Legendre nodes and weights on [0, pi], from Newton's method on the
// Legendre polynomial's recurrence.
std::vector<std::pair<double, double>> gaussLegendre(int n)
{
    std::vector<std::pair<double, double>> nodes;
    for (int i = 1; i <= n; ++i) {
        double x = std::cos(std::numbers::pi * (i - 0.25) / (n + 0.5));
        double derivative = 0;
        for (int iteration = 0; iteration < 100; ++iteration) {
            double p0 = 1, p1 = x;
            for (int k = 2; k <= n; ++k) {
                const double next = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
                p0 = p1;
                p1 = next;
            }
            derivative = n * (x * p1 - p0) / (x * x - 1);
            const double step = p1 / derivative;
            x -= step;
            if (std::abs(step) < 1e-16)
                break;
        }
        const double weight = 2 / ((1 - x * x) * derivative * derivative);
        nodes.emplace_back((x + 1) * std::numbers::pi / 2, weight * std::numbers::pi / 2);
    }
    return nodes;
}

} // namespace

PotentialKernel::PotentialKernel()
    : table((TABULATED + 1) * (TABULATED + 1))
{
    // a(m, n) = (2/pi) Int_0^pi (1 - cos(m t) e^(-|n| s)) / sinh s dt with
    // cosh s = 2 - cos t: the plane's double integral with one variable
    // integrated in closed form. The integrand is analytic on [0, pi].
    struct Node { double t, weight, s; };
    std::vector<Node> nodes;
    for (const auto &[t, weight] : gaussLegendre(400)) {
        const double s = std::acosh(2 - std::cos(t));
        nodes.push_back({t, weight / std::sinh(s), s});
    }
    for (int m = 0; m <= TABULATED; ++m)
        for (int n = 0; n <= m; ++n) {
            double sum = 0;
            for (const Node &node : nodes)
                sum += node.weight * (1 - std::cos(m * node.t) * std::exp(-n * node.s));
            table[m * (TABULATED + 1) + n] = table[n * (TABULATED + 1) + m] = 2 / std::numbers::pi * sum;
        }
}

double PotentialKernel::operator()(int x, int y) const
{
    x = std::abs(x);
    y = std::abs(y);
    if (x <= TABULATED && y <= TABULATED)
        return table[x * (TABULATED + 1) + y];
    constexpr double KAPPA = (2 * std::numbers::egamma + 3 * std::numbers::ln2) / std::numbers::pi;
    const double x2 = double(x) * x, y2 = double(y) * y, r2 = x2 + y2;
    const double cos4phi = (x2 * x2 - 6 * x2 * y2 + y2 * y2) / (r2 * r2);
    return std::log(r2) / std::numbers::pi + KAPPA - cos4phi / (6 * std::numbers::pi * r2);
}
