#include "options.h"

#include "measurer.h"
#include "engine/lattice.h"
#include "engine/random.h"
#include "strictnumber.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace {

const char *const DESCRIPTION =
    "Measures the avalanches of the Bak-Tang-Wiesenfeld sandpile, grains dropped on\n"
    "random sites of an L x L pile with open edges, and prints for each side the\n"
    "topplings per grain, the height distribution and the exponents tau of the\n"
    "distributions of avalanche size, area and duration, beside the exact values.\n"
    "The folders of --merge replace the measuring options.";

// A whole decimal number, digits only, from low to high; stricter than
// CLI11's own conversion, which takes signs, spaces and "0x".
CLI::Validator whole(std::int64_t low, std::int64_t high)
{
    return CLI::Validator(
        [=](std::string &text) { return wholeFault(text, low, high); },
        "");
}

// An option taking a whole number within bounds, shown in its help.
template <typename Number>
CLI::Option *addNumber(CLI::App &app, const char *name, const char *value, Number &target, std::int64_t low,
                       std::int64_t high, const std::string &meaning)
{
    return app.add_option(name, target, meaning + ": " + std::to_string(low) + " to " + std::to_string(high))
        ->type_name(value)
        ->check(whole(low, high))
        ->capture_default_str();
}

CLI::Validator startingPileName()
{
    return CLI::Validator(
        [](std::string &name) -> std::string {
            if (startingPileNamed(name))
                return {};
            return "needs " + std::string(startingPileName(StartingPile::Stationary)) + " or "
                   + std::string(startingPileName(StartingPile::Window)) + ", not '" + name + "'";
        },
        "");
}

CLI::Validator nonEmpty(const std::string &what)
{
    return CLI::Validator([=](std::string &text) { return text.empty() ? "needs " + what : std::string(); }, "");
}

CLI::Validator plotName()
{
    return CLI::Validator(
        [](std::string &name) -> std::string {
            const auto endsWith = [&](const std::string &end) {
                return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
            };
            if (endsWith(".png") || endsWith(".svg"))
                return {};
            return "needs a file name ending in .png or .svg, not '" + name + "'";
        },
        "");
}

// The usage line first, then what the program does; each option's value
// and default beside it.
class Formatter : public CLI::Formatter
{
public:
    std::string make_description(const CLI::App *) const override { return {}; }
    std::string make_usage(const CLI::App *app, std::string name) const override
    {
        return CLI::Formatter::make_usage(app, name) + "\n" + app->get_description() + "\n";
    }
    std::string make_option_opts(const CLI::Option *option) const override
    {
        return option->get_type_size() == 0 ? std::string() : " " + option->get_type_name();
    }
    std::string make_option_desc(const CLI::Option *option) const override
    {
        const std::string fallback = option->get_default_str();
        return option->get_description() + (fallback.empty() ? "" : " (default " + fallback + ")");
    }
};

// Every option, its meaning, its bounds and its default, once.
void declare(CLI::App &app, Options &options)
{
    Series::Settings &series = options.series;
    using Limits = Series::Settings;
    app.description(DESCRIPTION);
    app.formatter(std::make_shared<Formatter>());
    app.get_formatter()->column_width(18);
    app.set_help_flag("--help", "show this help and exit");
    app.set_version_flag("--version", std::string(), "show the version and exit");

    CLI::Option *measuring[] = {
        addNumber(app, "--size", "L", series.sides, Lattice::MIN_SIDE, Limits::MAX_SIDE,
                  "lattice side, repeated for a series")
            ->allow_extra_args(false)
            ->default_str(std::to_string(Measurer::DEFAULT_SIDE)),
        addNumber(app, "--grains", "N", series.grains, 1, Limits::MAX_COUNT, "grains measured per run"),
        app.add_option_function<std::string>(
               "--start", [&series](const std::string &name) { series.start = *startingPileNamed(name); },
               "the starting pile: stationary, an exact sample of the steady state, or window, the window's "
               "random pile")
            ->type_name("PILE")
            ->check(startingPileName())
            ->default_str(std::string(startingPileName(series.start))),
        addNumber(app, "--warmup", "W", series.warmup, 0, Limits::MAX_COUNT, "grains dropped first, unmeasured")
            ->default_str("0; " + std::to_string(Series::Settings::WINDOW_WARMUP_PER_SITE)
                          + " L^2 from the window's pile"),
        addNumber(app, "--seed", "S", series.seed, 1, Random::MODULUS - 1,
                  "seed of the random source, the window's by default; run k > 0 uses one hashed from S and k"),
        addNumber(app, "--runs", "R", series.runs, 1, Limits::MAX_RUNS, "independent runs"),
        addNumber(app, "--first-run", "K", series.firstRun, 0, Limits::MAX_COUNT, "number of the first run"),
        addNumber(app, "--threads", "T", series.threads, 1, Limits::MAX_THREADS, "runs measured in parallel")
            ->default_str("all cores"),
    };
    app.add_option("--csv", options.csv, "write the distributions and a summary as CSV files in DIR")
        ->type_name("DIR")
        ->check(nonEmpty("a folder"));
    app.add_option("--plot", options.plot, "draw the size distributions to FILE (.png or .svg)")
        ->type_name("FILE")
        ->check(plotName());
    CLI::Option *merge =
        app.add_option("--merge", options.merge,
                       "combine the CSV folders of earlier runs of one series; takes no measuring option")
            ->type_name("DIR...")
            ->check(nonEmpty("folder names, not an empty one"));
    for (CLI::Option *option : measuring)
        merge->excludes(option);
}

// One line, whatever CLI11 made of the message.
std::string oneLine(std::string message)
{
    std::replace(message.begin(), message.end(), '\n', ' ');
    return message;
}

} // namespace

std::string Options::usage()
{
    CLI::App app("", "sandpile-stats");
    Options options;
    declare(app, options);
    return app.help();
}

Options Options::parse(const std::vector<std::string> &arguments)
{
    Options options;
    options.series.threads = Series::Settings::allCores();
    options.series.sides.clear();
    CLI::App app("", "sandpile-stats");
    declare(app, options);
    try {
        // CLI11 takes the arguments last first.
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
    } catch (const CLI::CallForHelp &) {
        options.help = true;
        return options;
    } catch (const CLI::CallForVersion &) {
        options.version = true;
        return options;
    } catch (const CLI::ParseError &error) {
        throw UsageError(oneLine(error.what()));
    }

    // What CLI11 cannot say: a merge list given in two parts, and what the
    // settings say of themselves (a side given twice, the whole series'
    // grains).
    if (std::count_if(arguments.begin(), arguments.end(),
                      [](const std::string &a) { return a == "--merge" || a.rfind("--merge=", 0) == 0; })
        > 1)
        throw UsageError("--merge given twice");
    if (options.series.sides.empty())
        options.series.sides.push_back(Measurer::DEFAULT_SIDE);
    if (const std::string fault = options.series.fault(); !fault.empty())
        throw UsageError(fault);
    return options;
}
