#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

// A one-line progress bar with the rate and the time left, redrawn in place
// on a terminal.
class Progress
{
public:
    Progress(std::FILE *terminal, std::int64_t totalGrains);
    void update(std::int64_t grainsDone);
    void finish();   // clears the line

private:
    std::FILE *out;
    std::int64_t total;
    std::chrono::steady_clock::time_point start;
};
