#pragma once

#include "engine/random.h"

#include <vector>

// An independent sandpile for checking the engine's: it topples one site at
// a time from a stack instead of in parallel sweeps. By the abelian property
// of the model both orders end in the same stable pile after the same
// number of topplings, so comparing the two checks heights, avalanche sizes
// and the grains lost across the edge.
struct ReferencePile
{
    int L;        // columns
    int rows;
    std::vector<int> z;
    long long lost = 0;   // grains given across the edge so far
    long long area = 0;   // distinct sites the last stabilise() toppled

    ReferencePile(int side, std::vector<int> heights) : ReferencePile(side, side, std::move(heights)) {}
    ReferencePile(int width, int height, std::vector<int> heights) : L(width), rows(height), z(std::move(heights)) {}

    // Topples until every height is at most 3; returns the number of topplings.
    long long stabilise()
    {
        std::vector<int> unstable;
        for (int i = 0; i < L * rows; ++i)
            if (z[i] > 3)
                unstable.push_back(i);
        long long topplings = 0;
        std::vector<bool> toppled(std::size_t(L) * rows, false);   // a mark a site: cheap per toppling
        area = 0;
        while (!unstable.empty()) {
            const int i = unstable.back();
            if (z[i] <= 3) {
                unstable.pop_back();
                continue;
            }
            z[i] -= 4;
            ++topplings;
            if (!toppled[i]) {
                toppled[i] = true;
                ++area;
            }
            const int row = i / L, column = i % L;
            const int ys[] = {row - 1, row, row + 1, row};
            const int xs[] = {column, column + 1, column, column - 1};
            for (int k = 0; k < 4; ++k) {
                if (ys[k] < 0 || ys[k] >= rows || xs[k] < 0 || xs[k] >= L) {
                    ++lost;
                    continue;
                }
                const int n = ys[k] * L + xs[k];
                if (++z[n] == 4)
                    unstable.push_back(n);
            }
        }
        return topplings;
    }

    // Adds the grains of the next random drop, drawn from a copy of a random
    // source, which is left as it was; returns how many it added.
    int addRandomDrop(Random random)
    {
        int added = 0;
        int site;
        do {
            site = int(random.uniformRandom() * L * rows);
            ++added;
        } while (++z[site] != 4);
        return added;
    }

    long long grains() const
    {
        long long sum = 0;
        for (int h : z)
            sum += h;
        return sum;
    }
};
