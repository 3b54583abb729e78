// sandpile-pile: the big stable piles of the sandpile from the command line,
// exact to the grain. See sandpile-pile(1).

#include "npyfile.h"
#include "picture.h"
#include "zoomfolder.h"
#include "atomicfiles.h"
#include "cformat.h"
#include "commandline.h"
#include "interrupt.h"
#include "shellquote.h"
#include "strictnumber.h"
#include "engine/pilebuilder.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

const CommandLine commandLine("sandpile-pile");
const std::vector<std::string> COMMANDS{"centre", "identity", "stabilise"};
constexpr int MAX_THREADS = 256;

struct Options {
    std::string command;
    std::string grains, side, file;   // the command's argument
    std::string png, palette = "window", heights, zoom;
    std::string threads = std::to_string(CommandLine::defaultThreads());
};

// Bad input or usage: one line, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string plural(std::uint64_t count, const std::string &noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// A whole number of grains: decimal digits, or a power of two written 2^k.
// One above 2^32, however large, is refused as such.
std::uint64_t grainsFrom(const std::string &text)
{
    const bool power = text.rfind("2^", 0) == 0;
    const std::string digits = power ? text.substr(2) : text;
    if (!allDigits(digits))
        throw UsageError("the number of grains must be a whole number or 2^k, not '" + text + "'");
    std::int64_t value = 0;
    const bool fits = parseWhole(digits, value);
    const int maxPower = 32;
    if (power ? !fits || value > maxPower : !fits || std::uint64_t(value) > PileBuilder::MAX_CENTRE_GRAINS) {
        const std::string shown = power ? "2^" + digits.substr(std::min(digits.find_first_not_of('0'), digits.size() - 1))
                                        : digits.substr(std::min(digits.find_first_not_of('0'), digits.size() - 1));
        throw UsageError("the number of grains " + shown + " is above 2^32 = " + std::to_string(PileBuilder::MAX_CENTRE_GRAINS));
    }
    return power ? std::uint64_t(1) << value : std::uint64_t(value);
}

int sideFrom(const std::string &text)
{
    if (!allDigits(text))
        throw UsageError("the side must be a whole number, not '" + text + "'");
    std::int64_t side = 0;
    if (!parseWhole(text, side) || side > PileBuilder::MAX_SIDE)
        side = PileBuilder::MAX_SIDE + std::int64_t(1);   // refused below, as too large
    PileLimits::checkIdentity(side);
    return int(side);
}

// The memory the files take beside a pile of about width x height sites.
std::size_t outputBytes(const Options &options, int width, int height)
{
    return (options.png.empty() ? 0 : Picture::pngBytes(width, height))
           + (options.zoom.empty() ? 0 : ZoomFolder::bytes(width, height));
}

// The pile, and the report's line saying what it is. The builders check
// their own memory; the files' is checked with it here first.
std::pair<StablePile, std::string> build(const Options &options, const PileBuilder::Settings &settings)
{
    if (options.command == "centre") {
        const std::uint64_t grains = grainsFrom(options.grains);
        PileLimits::checkCentre(grains);
        const int side = int(2 * std::sqrt(double(grains) / 6)) + 9;   // its radius is about sqrt(n / 6.6)
        PileLimits::checkMemory(PileBuilder::centreBytes(grains, false) + outputBytes(options, side, side));
        return {PileBuilder::centre(grains, settings), plural(grains, "grain") + " dropped on the centre"};
    }
    if (options.command == "identity") {
        const int side = sideFrom(options.side);
        PileLimits::checkMemory(PileBuilder::identityBytes(side, false) + outputBytes(options, side, side));
        return {PileBuilder::identity(side, settings),
                "the identity of the " + std::to_string(side) + " x " + std::to_string(side) + " pile"};
    }
    NpyFile::Array pile;
    try {
        // The sides and the memory are checked before the data is read.
        pile = NpyFile::read(options.file, [&](int width, int height) {
            PileLimits::checkSides(width, height);
            PileLimits::checkMemory(PileBuilder::pileBytes(width, height, settings.odometer)
                                    + outputBytes(options, width, height));
        });
        return {PileBuilder::stabilise(pile.width, pile.height, pile.values, settings), shellQuote(options.file)};
    } catch (const NpyFile::Malformed &error) {
        throw UsageError(error.what());
    } catch (const PileLimits::Fault &fault) {
        throw UsageError(options.file + ": " + fault.what());
    }
}

// The estimate beside the pile, so that the next, larger one can be judged.
std::size_t estimatedBytes(const Options &options, const StablePile &pile)
{
    if (options.command == "centre")
        return PileBuilder::centreBytes(std::uint64_t(pile.grains), false);
    if (options.command == "identity")
        return PileBuilder::identityBytes(pile.width, false);
    return PileBuilder::pileBytes(pile.width, pile.height, false);
}

// Sides as rows x columns, NumPy's order, throughout.
std::string report(const std::string &what, const StablePile &pile, std::size_t bytes, double seconds, int threads)
{
    std::string text = "pile: " + what + "\n";
    text += pile.width == pile.height ? "side: " + std::to_string(pile.width) + "\n"
                                      : "sides: " + std::to_string(pile.height) + " x " + std::to_string(pile.width) + "\n";
    text += "grains: " + std::to_string(pile.grains) + "\n";
    text += "grains lost: " + std::to_string(pile.grainsLost) + "\n";
    text += "topplings: " + std::to_string(pile.topplings) + "\n";
    text += "centre topplings: " + std::to_string(pile.centreTopplings) + "\n";
    for (int z = 0; z < 4; ++z)
        text += "sites of height " + std::to_string(z) + ": " + std::to_string(pile.sitesOfHeight[z]) + "\n";
    text += cformat("memory estimated: %.0f MB\n", double(bytes) / 1e6);
    text += cformat("time: %.2f s on %s\n", seconds, plural(std::uint64_t(threads), "thread").c_str());
    for (const std::string &check : pile.checks)
        text += "check: " + check + "\n";
    return text;
}

// Refuses, before any work, outputs that cannot be written or that would
// overwrite the input or each other.
void checkOutputs(const Options &options)
{
    for (const auto &[option, path] : {std::pair{"--png", options.png}, {"--heights", options.heights}})
        if (!path.empty() && options.command == "stabilise" && AtomicFiles::samePath(path, options.file))
            throw UsageError(std::string(option) + " " + path + " is the input pile, which it would overwrite");
    if (!options.png.empty() && !options.heights.empty() && AtomicFiles::samePath(options.png, options.heights))
        throw UsageError("--png and --heights name the same file");
    for (const std::string &path : {options.png, options.heights})
        if (!path.empty())
            AtomicFiles::checkWritable(path, false);
    if (options.zoom.empty())
        return;
    for (const std::string &path : {options.png, options.heights, options.command == "stabilise" ? options.file : ""})
        if (!path.empty() && AtomicFiles::samePath(options.zoom, path))
            throw UsageError("--zoom " + options.zoom + " names the same place as " + path);
    ZoomFolder::checkWritable(options.zoom);
}

// The command line; throws CLI11's errors (help and --version among them).
Options parse(CLI::App &app, int argc, char *argv[])
{
    Options options;
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string(), "show the version and exit");
    const CLI::Validator namesAFile(
        [](std::string &path) { return path.empty() ? std::string("needs a file name") : std::string(); }, "");
    const CLI::Validator threads([](std::string &text) { return wholeFault(text, 1, MAX_THREADS); }, "");
    CLI::App *centre = app.add_subcommand("centre", "N grains dropped on the centre of the unbounded lattice");
    centre->add_option("N", options.grains, "grains, up to 2^32; 2^k is understood")->required();
    CLI::App *identity = app.add_subcommand("identity", "the identity of the L x L pile's group, open edges");
    identity->add_option("L", options.side, "side, 1 to " + std::to_string(PileBuilder::MAX_SIDE))->required();
    CLI::App *stabilise = app.add_subcommand("stabilise", "stabilises a pile read from NumPy's .npy format");
    stabilise->add_option("FILE", options.file, "a 2-D array of integers at least 0")->required();
    for (CLI::App *command : {centre, identity, stabilise}) {
        command->add_option("--png", options.png, "writes the picture, one pixel a site")->type_name("FILE")->check(namesAFile);
        command->add_option("--palette", options.palette, "the picture's colours")
            ->type_name("NAME")
            ->check(CLI::IsMember(Picture::palettes()))
            ->capture_default_str();
        command->add_option("--heights", options.heights, "writes the heights as a uint8 .npy array")
            ->type_name("FILE")
            ->check(namesAFile);
        command->add_option("--zoom", options.zoom, "writes a folder that shows the pile zoomable in a web browser")
            ->type_name("DIR")
            ->check(namesAFile);
        command->add_option("--threads", options.threads, "threads to work on, 1 to " + std::to_string(MAX_THREADS))
            ->type_name("T")
            ->check(threads)
            ->capture_default_str();
    }
    // CLI11 would call a misspelt command a missing one.
    if (argc > 1 && argv[1][0] != '-' && std::find(COMMANDS.begin(), COMMANDS.end(), argv[1]) == COMMANDS.end())
        throw UsageError("unknown command '" + std::string(argv[1]) + "': centre, identity or stabilise");
    app.parse(argc, argv);
    options.command = app.get_subcommands().front()->get_name();
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    Interrupt::install();

    CLI::App app("Builds the big stable piles of the Bak-Tang-Wiesenfeld sandpile, exact to the grain, and\n"
                 "prints what their stabilisation did.",
                 "sandpile-pile");
    Options options;
    try {
        options = parse(app, argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), stdout);
        return CommandLine::flushStdout().empty() ? 0 : CommandLine::EXIT_IO;
    } catch (const CLI::CallForAllHelp &) {
        std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
        return CommandLine::flushStdout().empty() ? 0 : CommandLine::EXIT_IO;
    } catch (const CLI::CallForVersion &) {
        std::fputs(commandLine.versionLine().c_str(), stdout);
        return CommandLine::flushStdout().empty() ? 0 : CommandLine::EXIT_IO;
    } catch (const CLI::ParseError &error) {
        return commandLine.usageError(error.what());
    } catch (const UsageError &error) {
        return commandLine.usageError(error.what());
    }

    try {
        checkOutputs(options);
        PileBuilder::Settings settings;
        settings.threads = std::stoi(options.threads);
        settings.stop = [] { return Interrupt::interrupted().load(); };
        if (isatty(STDERR_FILENO))
            settings.progress = [](int done, int levels) {
                if (done < levels)
                    std::fprintf(stderr, "\rresolution %d of %d done", done, levels);
                else
                    std::fputs("\r                              \r", stderr);
            };
        const auto start = std::chrono::steady_clock::now();
        const auto [pile, what] = build(options, settings);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        // A signal after the work, until the files are renamed into place,
        // still means that nothing is written.
        if (Interrupt::interrupted().load())
            throw LeastAction::Stopped();
        AtomicFiles files;
        if (!options.png.empty())
            files.add(options.png, Picture::png(pile.heights, pile.width, pile.height, options.palette));
        if (!options.heights.empty())
            files.add(options.heights, NpyFile::encode(pile.heights, pile.width, pile.height));
        if (!options.zoom.empty())
            ZoomFolder::write(options.zoom, pile.heights.data(), pile.width, pile.height, options.palette,
                              [] { return Interrupt::interrupted().load(); }, settings.threads);
        files.commit([] { return Interrupt::interrupted().load(); });

        std::fputs(report(what, pile, estimatedBytes(options, pile), seconds, pile.threads).c_str(), stdout);
        if (const std::string error = CommandLine::flushStdout(); !error.empty())
            return commandLine.fail(CommandLine::EXIT_IO, error);
        return 0;
    } catch (const LeastAction::Stopped &) {
        return commandLine.fail(Interrupt::exitStatus(), "interrupted; nothing written");
    } catch (const AtomicFiles::Stopped &) {
        return commandLine.fail(Interrupt::exitStatus(), "interrupted; nothing written");
    } catch (const UsageError &error) {
        return commandLine.fail(CommandLine::EXIT_USAGE, error.what());
    } catch (const PileLimits::Fault &fault) {
        return commandLine.fail(CommandLine::EXIT_USAGE, fault.what());
    } catch (const std::invalid_argument &error) {   // a zoom folder that is not one
        return commandLine.fail(CommandLine::EXIT_USAGE, error.what());
    } catch (const std::bad_alloc &error) {
        // The builders' own refusal says what was needed; a failed
        // allocation, on any thread, only that memory ran out.
        const bool foreseen = dynamic_cast<const PileLimits::OutOfMemory *>(&error) != nullptr;
        return commandLine.fail(CommandLine::EXIT_IO, foreseen ? error.what() : "out of memory");
    } catch (const std::exception &error) {
        // A signal that broke off a wait (on a pipe, say) is no I/O error.
        if (Interrupt::interrupted().load())
            return commandLine.fail(Interrupt::exitStatus(), "interrupted; nothing written");
        return commandLine.fail(CommandLine::EXIT_IO, error.what());
    }
}
