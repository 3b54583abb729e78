#include "exactvalues.h"

#include <cmath>
#include <vector>

namespace ExactValues {

namespace {
constexpr double PI = 3.14159265358979323846;
}

// Delta is diagonalised by the sine modes
//   phi_ab(i, j) = 2/(L+1) sin(pi a i/(L+1)) sin(pi b j/(L+1)),  a, b = 1..L,
// with eigenvalues 4 - 2 cos(pi a/(L+1)) - 2 cos(pi b/(L+1)). The sum of all
// entries of G is sum_ab (sum_ij phi_ab)^2 / lambda_ab, and
// sum_i sin(pi a i/(L+1)) is cot(pi a/(2(L+1))) for odd a and 0 for even a.
// So only odd modes contribute: O(L^2) terms, all positive.
double topplingsPerGrain(int side)
{
    const double m = side + 1;
    // Per odd mode a: the projection factor sqrt(2/(L+1)) cot(...) and the
    // one-dimensional eigenvalue 2 - 2 cos(pi a/(L+1)).
    std::vector<double> projection, eigenvalue;
    for (int a = 1; a <= side; a += 2) {
        projection.push_back(std::sqrt(2 / m) / std::tan(PI * a / (2 * m)));
        eigenvalue.push_back(2 - 2 * std::cos(PI * a / m));
    }
    double total = 0;
    for (std::size_t a = 0; a < projection.size(); ++a) {
        double row = 0;
        for (std::size_t b = 0; b < projection.size(); ++b) {
            const double p = projection[a] * projection[b];
            row += p * p / (eigenvalue[a] + eigenvalue[b]);
        }
        total += row;
    }
    return total / (double(side) * side);
}

double heightProbability(int height)
{
    const double pi = PI, pi2 = PI * PI, pi3 = PI * PI * PI;
    switch (height) {
    case 0: return 2 / pi2 - 4 / pi3;
    case 1: return 0.25 - 1 / (2 * pi) - 3 / pi2 + 12 / pi3;
    case 2: return 0.375 + 1 / pi - 12 / pi3;
    case 3: return 0.375 - 1 / (2 * pi) + 1 / pi2 + 4 / pi3;
    default: return 0;
    }
}

double meanHeight()
{
    return 17.0 / 8.0;
}

} // namespace ExactValues
