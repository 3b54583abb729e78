// What each resolution of a big pile costs: its sites, stack pops toppling
// and untoppling, burning passes, how far the guess lay from the least
// odometer before its correction and as laid (most above, most below, mean
// distance), the scale it was read at, and the wall time.
//
//   pile_resolutions centre 2^20 | identity 1024 | six 4096 | random 2048 [--threads N]
#include "engine/pilebuilder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>

namespace {

void printRow(const PileBuilder::Resolution &r)
{
    const auto error = [](const MultiscaleGuess::Error &e) {
        static char text[64];
        std::snprintf(text, sizeof text, "%8.0f %8.0f %8.1f", e.above, e.below, e.mean);
        return std::string(text);
    };
    std::printf("%6d x %-6d %13lld %12lld %6d  %s  %s  %7.5f %8.2f\n", r.width, r.height,
                static_cast<long long>(r.work.topplings), static_cast<long long>(r.work.untopplings),
                r.work.burningPasses, error(r.plainError).c_str(), error(r.laidError).c_str(), r.scale, r.seconds);
}

std::uint64_t parseCount(const char *text)
{
    return std::strncmp(text, "2^", 2) == 0 ? std::uint64_t(1) << std::atoi(text + 2) : std::strtoull(text, nullptr, 10);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s centre|identity|six|random SIZE [--threads N]\n", argv[0]);
        return 2;
    }
    const std::string job = argv[1];
    const std::uint64_t size = parseCount(argv[2]);
    PileBuilder::Settings settings;
    settings.threads = int(std::max(1u, std::thread::hardware_concurrency()));
    for (int at = 3; at + 1 < argc; ++at)
        if (std::strcmp(argv[at], "--threads") == 0)
            settings.threads = std::atoi(argv[at + 1]);
    settings.report = printRow;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);   // a row as soon as its resolution is solved
    std::printf("%s %s on at most %d threads\n", job.c_str(), argv[2], settings.threads);
    std::printf("%-15s %13s %12s %6s  %-26s  %-26s  %7s %8s\n", "stored sites", "topple pops", "untopple pops",
                "passes", "plain guess: above below mean", "laid guess: above below mean", "scale", "seconds");
    const auto start = std::chrono::steady_clock::now();
    StablePile pile;
    if (job == "centre") {
        pile = PileBuilder::centre(size, settings);
    } else if (job == "identity") {
        pile = PileBuilder::identity(int(size), settings);
    } else if (job == "six" || job == "random") {
        const int side = int(size);
        std::vector<std::int64_t> heights(std::size_t(side) * std::size_t(side), 6);
        if (job == "random") {
            std::mt19937_64 random(1);
            for (std::int64_t &z : heights)
                z = std::int64_t(random() % 8);
        }
        pile = PileBuilder::stabilise(side, side, heights, settings);
    } else {
        std::fprintf(stderr, "%s: no job named %s\n", argv[0], job.c_str());
        return 2;
    }
    std::printf("total %.2f s, %lld topplings\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                static_cast<long long>(pile.topplings));
}
