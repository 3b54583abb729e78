#pragma once

#include "engine/sandpileobserver.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// Counts the distinct sites an avalanche topples: a site is stamped with the
// avalanche's number the first time it topples, so nothing is cleared
// between avalanches.
class AreaCounter : public SandpileObserver
{
public:
    explicit AreaCounter(int sites) : stamps(std::size_t(sites), 0) {}

    void begin()
    {
        area = 0;
        if (++mark == 0) {   // the stamps wrapped around: start afresh
            std::fill(stamps.begin(), stamps.end(), 0);
            mark = 1;
        }
    }
    void toppled(int site, int /*height*/)
    {
        std::uint32_t &stamp = stamps[std::size_t(site)];
        area += stamp != mark;
        stamp = mark;
    }
    std::int64_t area = 0;

private:
    std::vector<std::uint32_t> stamps;
    std::uint32_t mark = 0;
};
