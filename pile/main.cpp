// sandpile-pile: the big stable piles of the sandpile from the command line,
// exact to the grain. See sandpile-pile(1).

#include "npyfile.h"
#include "picture.h"
#include "zoomfolder.h"
#include "atomicfiles.h"
#include "interrupt.h"
#include "strictnumber.h"
#include "engine/pilebuilder.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

constexpr int EXIT_USAGE = 2;
constexpr int EXIT_IO = 1;

struct Options {
    std::string grains, side, file;   // the subcommand's argument
    std::string png, palette = "window", heights, zoom;
    int threads = int(std::max(1u, std::thread::hardware_concurrency()));
};

// Bad input or usage: one line, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int fail(int status, const std::string &message)
{
    std::fprintf(stderr, "sandpile-pile: %s\n", message.c_str());
    return status;
}

// A whole number of grains: decimal digits, or a power of two written 2^k.
std::uint64_t grainsFrom(const std::string &text)
{
    std::int64_t value = 0;
    if (text.rfind("2^", 0) == 0 && parseWhole(text.substr(2), value) && value < 64)
        return std::uint64_t(1) << value;
    if (parseWhole(text, value))
        return std::uint64_t(value);
    throw UsageError("the number of grains must be a whole number or 2^k, not '" + text + "'");
}

// The memory the files take beside a pile of about width x height sites.
std::size_t outputBytes(const Options &options, int width, int height)
{
    return (options.png.empty() ? 0 : Picture::pngBytes(width, height)) + (options.zoom.empty() ? 0 : ZoomFolder::bytes(width, height));
}

StablePile build(const std::string &command, const Options &options, const PileBuilder::Settings &settings)
{
    std::string fault;
    if (command == "centre") {
        const std::uint64_t grains = grainsFrom(options.grains);
        const int side = int(2 * std::sqrt(double(grains) / 6)) + 9;   // its radius is about sqrt(n / 6.6)
        if (!(fault = PileBuilder::centreFault(grains)).empty())
            throw UsageError(fault);
        if (!(fault = PileBuilder::memoryFault(PileBuilder::centreBytes(grains, false) + outputBytes(options, side, side))).empty())
            throw std::runtime_error(fault);
        return PileBuilder::centre(grains, settings);
    }
    if (command == "identity") {
        std::int64_t side = 0;
        if (!parseWhole(options.side, side))
            throw UsageError("the side must be a whole number, not '" + options.side + "'");
        if (!(fault = PileBuilder::identityFault(side)).empty())
            throw UsageError(fault);
        if (!(fault = PileBuilder::memoryFault(PileBuilder::identityBytes(int(side), false) + outputBytes(options, int(side), int(side)))).empty())
            throw std::runtime_error(fault);
        return PileBuilder::identity(int(side), settings);
    }
    NpyFile::Array pile;
    try {
        // The sides and the memory are checked before the data is read.
        pile = NpyFile::read(options.file, [&](int width, int height) {
            if (!(fault = PileBuilder::sidesFault(width, height)).empty())
                throw UsageError(options.file + ": " + fault);
            if (!(fault = PileBuilder::memoryFault(PileBuilder::pileBytes(width, height, false) + outputBytes(options, width, height))).empty())
                throw std::runtime_error(fault);
        });
    } catch (const NpyFile::Malformed &error) {
        throw UsageError(error.what());
    }
    if (!(fault = PileBuilder::pileFault(pile.width, pile.height, pile.values)).empty())
        throw UsageError(options.file + ": " + fault);
    return PileBuilder::stabilise(pile.width, pile.height, pile.values, settings);
}

std::string report(const std::string &what, const StablePile &pile, double seconds, int threads)
{
    std::string text = "pile: " + what + "\n";
    text += pile.width == pile.height ? "side: " + std::to_string(pile.width) + "\n"
                                      : "sides: " + std::to_string(pile.width) + " x " + std::to_string(pile.height) + "\n";
    text += "grains: " + std::to_string(pile.grains) + "\n";
    text += "grains lost: " + std::to_string(pile.grainsLost) + "\n";
    text += "topplings: " + std::to_string(pile.topplings) + "\n";
    text += "centre topplings: " + std::to_string(pile.centreTopplings) + "\n";
    for (int z = 0; z < 4; ++z)
        text += "sites of height " + std::to_string(z) + ": " + std::to_string(pile.sitesOfHeight[z]) + "\n";
    char time[64];
    std::snprintf(time, sizeof time, "time: %.2f s on %d thread%s\n", seconds, threads, threads == 1 ? "" : "s");
    text += time;
    for (const std::string &check : pile.checks)
        text += "check: " + check + "\n";
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    Interrupt::install();

    CLI::App app("Builds the big stable piles of the Bak-Tang-Wiesenfeld sandpile, exact to the grain, and\n"
                 "prints what their stabilisation did.",
                 "sandpile-pile");
    app.require_subcommand(1);
    Options options;
    const CLI::Validator namesAFile(
        [](std::string &path) { return path.empty() ? std::string("needs a file name") : std::string(); }, "");
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
        command->add_option("--threads", options.threads, "threads to work on")
            ->type_name("T")
            ->check(CLI::Range(1, 256))
            ->capture_default_str();
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : EXIT_IO;
    } catch (const CLI::CallForAllHelp &) {
        std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : EXIT_IO;
    } catch (const CLI::ParseError &error) {
        return fail(EXIT_USAGE, std::string(error.what()) + " (see sandpile-pile --help)");
    }
    const CLI::App *chosen = app.get_subcommands().front();
    const std::string command = chosen->get_name();

    try {
        for (const std::string &path : {options.png, options.heights})
            if (!path.empty())
                AtomicFiles::checkWritable(path, false);
        if (!options.png.empty() && !options.heights.empty() && AtomicFiles::samePath(options.png, options.heights))
            throw UsageError("--png and --heights name the same file");
        for (const std::string &path : {options.png, options.heights})
            if (!options.zoom.empty() && !path.empty() && AtomicFiles::samePath(options.zoom, path))
                throw UsageError("--zoom names the same place as --png or --heights");
        if (!options.zoom.empty())
            ZoomFolder::checkWritable(options.zoom);

        PileBuilder::Settings settings;
        settings.threads = options.threads;
        settings.stop = [] { return Interrupt::interrupted().load(); };
        if (isatty(STDERR_FILENO))
            settings.progress = [](int done, int levels) {
                if (done < levels)
                    std::fprintf(stderr, "\rresolution %d of %d done", done, levels);
                else
                    std::fputs("\r                              \r", stderr);
            };
        const auto start = std::chrono::steady_clock::now();
        const StablePile pile = build(command, options, settings);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        // A Ctrl-C after the work, while the files were made, still means
        // that nothing is written.
        const auto stopIfInterrupted = [] {
            if (Interrupt::interrupted().load())
                throw LeastAction::Stopped();
        };
        stopIfInterrupted();
        AtomicFiles files;
        if (!options.png.empty())
            files.add(options.png, Picture::png(pile.heights, pile.width, pile.height, options.palette));
        if (!options.heights.empty())
            files.add(options.heights, NpyFile::encode(pile.heights, pile.width, pile.height));
        if (!options.zoom.empty())
            ZoomFolder::write(options.zoom, pile.heights.data(), pile.width, pile.height, options.palette,
                              [] { return Interrupt::interrupted().load(); }, options.threads);
        stopIfInterrupted();
        files.commit();

        const std::string what = command == "centre"     ? options.grains + " grains dropped on the centre"
                                 : command == "identity" ? "the identity of the " + options.side + " x " + options.side + " pile"
                                                         : options.file;
        std::fputs(report(what, pile, seconds, options.threads).c_str(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return fail(EXIT_IO, std::string("cannot write to standard output: ") + std::strerror(errno ? errno : EIO));
        return 0;
    } catch (const LeastAction::Stopped &) {
        return fail(Interrupt::EXIT_STATUS, "interrupted; nothing written");
    } catch (const UsageError &error) {
        return fail(EXIT_USAGE, error.what());
    } catch (const std::invalid_argument &error) {
        return fail(EXIT_USAGE, error.what());
    } catch (const std::bad_alloc &) {
        return fail(EXIT_IO, "out of memory");
    } catch (const std::exception &error) {
        return fail(EXIT_IO, error.what());
    }
}
