#pragma once

#include "foldedlattice.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

// What the big piles' builders refuse before any work, each with one line
// saying why: settings out of range (Fault) and piles the machine cannot
// hold (OutOfMemory). The front-ends only translate them.
class PileLimits
{
public:
    struct Fault : std::invalid_argument {
        using std::invalid_argument::invalid_argument;
    };
    // An allocation failure foreseen: a std::bad_alloc with its reason.
    class OutOfMemory : public std::bad_alloc
    {
    public:
        explicit OutOfMemory(std::string line) : line(std::move(line)) {}
        const char *what() const noexcept override { return line.c_str(); }

    private:
        std::string line;
    };

    static constexpr std::uint64_t MAX_CENTRE_GRAINS = std::uint64_t(1) << 32;
    static constexpr int MAX_SIDE = FoldedLattice::MAX_SIDE;   // of the identity and of any pile
    // No pile holds so many grains that its topplings could overflow.
    static constexpr std::int64_t MAX_TOPPLING_BOUND = std::int64_t(1) << 62;

    // Each throws Fault unless the pile can be built. Sides are told as
    // rows x columns, NumPy's order.
    static void checkCentre(std::uint64_t grains);
    static void checkIdentity(std::int64_t side);
    static void checkSides(std::int64_t width, std::int64_t height);
    static void checkPile(std::int64_t width, std::int64_t height, const std::vector<std::int64_t> &heights);
    // Throws OutOfMemory unless `bytes` can be had.
    static void checkMemory(std::size_t bytes);

    // The bytes this process can still get: the least of the memory the
    // kernel deems available, what its address-space limit leaves, and what
    // its control groups' limits leave. SIZE_MAX when none is known.
    static std::size_t availableBytes();
};
