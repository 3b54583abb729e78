#pragma once

#include "engine/sandpilemodel.h"

#include <vector>

// The recurrent piles of a small lattice, the steady state of random
// addition: every stable pile (4^(L^2) of them, numbered in base 4 with site
// 0 the lowest digit) on which the burning test burns every site. 192 at
// L = 2, 100 352 at L = 3.
inline std::vector<int> recurrentPileCodes(int side)
{
    const int sites = side * side;
    SandpileModel model(side);
    std::vector<int> codes;
    for (int code = 0; code < 1 << (2 * sites); ++code) {
        for (int site = 0; site < sites; ++site)
            model.setHeight(site, code >> (2 * site) & 3);
        model.burn();
        if (model.lastBurn().burntSites == sites)
            codes.push_back(code);
    }
    return codes;
}

// The height of `site` in the pile numbered `code`.
inline int heightInPile(int code, int site)
{
    return code >> (2 * site) & 3;
}
