#include "options.h"

#include "measurer.h"
#include "engine/lattice.h"
#include "engine/random.h"
#include "strictnumber.h"

#include <algorithm>
#include <set>
#include <thread>

namespace {

std::int64_t number(const std::string &option, const std::string &text, std::int64_t low, std::int64_t high)
{
    std::int64_t value = 0;
    if (!parseWhole(text, value) || value < low || value > high)
        throw Options::UsageError(option + " needs a whole number from " + std::to_string(low) + " to "
                                  + std::to_string(high) + ", not '" + text + "'");
    return value;
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

const char *Options::usage()
{
    return "Usage: sandpile-stats [--size L]... [--grains N] [--warmup W] [--seed S] [--runs R]\n"
           "                      [--first-run K] [--threads T] [--csv DIR] [--plot FILE]\n"
           "       sandpile-stats --merge DIR... [--csv DIR] [--plot FILE]\n"
           "\n"
           "Measures the avalanches of the Bak-Tang-Wiesenfeld sandpile, grains dropped on\n"
           "random sites of an L x L pile with open edges, and prints for each side the\n"
           "topplings per grain, the height distribution and the exponents tau of the\n"
           "distributions of avalanche size, area and duration, beside the exact values.\n"
           "\n"
           "  --size L       lattice side, 2 to 4096 (default 149); repeat for a series\n"
           "  --grains N     grains measured per run (default 1000000)\n"
           "  --warmup W     grains dropped first, unmeasured (default 2 L^2)\n"
           "  --seed S       seed of the random source, 1 to 2147483646 (default 1, the\n"
           "                 window's); run k > 0 uses a seed hashed from S and k\n"
           "  --runs R       independent runs (default 1)\n"
           "  --first-run K  number of the first run (default 0)\n"
           "  --threads T    runs measured in parallel (default: all cores)\n"
           "  --csv DIR      write the distributions and a summary as CSV files in DIR\n"
           "  --plot FILE    draw the size distributions to FILE (.png or .svg)\n"
           "  --merge DIR... combine the CSV folders of earlier runs of one series\n"
           "  --help         show this help\n";
}

Options Options::parse(const std::vector<std::string> &arguments)
{
    Options options;
    options.series.threads = int(std::max(1u, std::thread::hardware_concurrency()));
    options.series.sides.clear();
    std::set<std::string> seen;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string option = arguments[i];
        std::string value;
        bool hasValue = false;
        if (const std::size_t equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            hasValue = true;
        }
        const auto takeValue = [&]() -> std::string {
            if (hasValue)
                return value;
            if (i + 1 >= arguments.size())
                throw UsageError(option + " needs a value");
            return arguments[++i];
        };
        if (option != "--size" && !seen.insert(option).second)
            throw UsageError(option + " given twice");

        if (option == "--help") {
            options.help = true;
        } else if (option == "--size") {
            const int side = int(number(option, takeValue(), Lattice::MIN_SIDE, MAX_SIDE));
            if (std::find(options.series.sides.begin(), options.series.sides.end(), side) != options.series.sides.end())
                throw UsageError("--size " + std::to_string(side) + " given twice");
            options.series.sides.push_back(side);
        } else if (option == "--grains") {
            options.series.grains = number(option, takeValue(), 1, MAX_COUNT);
        } else if (option == "--warmup") {
            options.series.warmup = number(option, takeValue(), 0, MAX_COUNT);
        } else if (option == "--seed") {
            options.series.seed = number(option, takeValue(), 1, Random::MODULUS - 1);
        } else if (option == "--runs") {
            options.series.runs = number(option, takeValue(), 1, MAX_RUNS);
        } else if (option == "--first-run") {
            options.series.firstRun = number(option, takeValue(), 0, MAX_COUNT);
        } else if (option == "--threads") {
            options.series.threads = int(number(option, takeValue(), 1, MAX_THREADS));
        } else if (option == "--csv") {
            options.csv = takeValue();
            if (options.csv.empty())
                throw UsageError("--csv needs a folder");
        } else if (option == "--plot") {
            options.plot = takeValue();
            if (!endsWith(options.plot, ".png") && !endsWith(options.plot, ".svg"))
                throw UsageError("--plot needs a file name ending in .png or .svg, not '" + options.plot + "'");
        } else if (option == "--merge") {
            if (hasValue)
                options.merge.push_back(value);
            while (i + 1 < arguments.size() && arguments[i + 1].rfind("--", 0) != 0)
                options.merge.push_back(arguments[++i]);
            if (options.merge.empty())
                throw UsageError("--merge needs at least one folder");
            if (std::find(options.merge.begin(), options.merge.end(), std::string()) != options.merge.end())
                throw UsageError("--merge needs folder names, not an empty one");
        } else {
            throw UsageError("unknown " + std::string(option.rfind("-", 0) == 0 ? "option" : "argument") + " '"
                             + arguments[i] + "'");
        }
    }
    if (!options.merge.empty()) {
        for (const char *measuring : {"--size", "--grains", "--warmup", "--seed", "--runs", "--first-run", "--threads"})
            if (seen.count(measuring) || (std::string(measuring) == "--size" && !options.series.sides.empty()))
                throw UsageError(std::string("--merge takes no ") + measuring + ": the folders hold the series");
    }
    if (options.series.sides.empty())
        options.series.sides.push_back(Measurer::DEFAULT_SIDE);
    if (std::int64_t total = 0; !options.series.totalGrains(total))
        throw UsageError("too many grains in all: sides x runs x (grains + warm-up) must stay below 2^63");
    return options;
}
