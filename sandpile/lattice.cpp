#include "sandpile.h"
#include "random.h"
#include "readout.h"

// Empties the counters, abandons any avalanche and fills the lattice with
// the starting pile of the running style: heights uniform in 0..3 for the
// random styles, a flat pile of 0, 1 or 2 grains for the fractalsand ones.
void Sandpile::reinitialise()
{
    largestAvalanche = 0;
    avalancheSize = 0;
    frontCount = 0;
    grainsAdded = 0;
    selectedSite = -1;

    if (keepsStatistics()) {
        for (int i = 0; i < Lattice::N; ++i)
            z[i] = int(uniformRandom() * 4.0);
        showAverageSlope();
        grainsLCD->showCount(grainsAdded);
        sLCD->showCount(0);
        largestLCD->showCount(largestAvalanche);
    } else {
        // The read-outs keep what they showed; the driver blanks them.
        const int flatHeight = runningStyle - Fractalsand0;
        std::fill(z.get(), z.get() + Lattice::N, flatHeight);
    }
    update();
}

void Sandpile::showAverageSlope()
{
    int grains = 0;
    for (int i = 0; i < Lattice::N; ++i)
        grains += z[i];
    slopeLCD->showValue(grains / double(Lattice::N));
}
