#pragma once

#include <vector>

// The potential kernel a(x) of the simple random walk on the plane lattice:
// a(0) = 0 and Lap a = 4 at the origin, 0 elsewhere (Lap: the sum over the
// four neighbours less four times the site), so that n a / 4 has the
// Laplacian of n grains on the origin. Exact to rounding near the origin
// (an integral, Spitzer's), and its asymptotic expansion
// (2/pi) ln r + kappa - cos(4 phi) / (6 pi r^2) beyond, which is off by less
// than 1e-8 there.
class PotentialKernel
{
public:
    PotentialKernel();
    double operator()(int x, int y) const;

private:
    static constexpr int TABULATED = 64;   // |x|, |y| up to this are integrated
    std::vector<double> table;             // (TABULATED + 1)^2 values, x and y from 0
};
