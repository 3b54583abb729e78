// sandpile-stats: measures the Bak-Tang-Wiesenfeld sandpile's avalanches
// from the command line. See sandpile-stats(1) and Options::usage().

#include "atomicfiles.h"
#include "csvfolder.h"
#include "options.h"
#include "plot.h"
#include "progress.h"
#include "report.h"
#include "series.h"

#include <QGuiApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <unistd.h>

namespace {

constexpr int EXIT_USAGE = 2;
constexpr int EXIT_IO = 1;
constexpr int EXIT_INTERRUPTED = 128 + SIGINT;

// Set by Ctrl-C; the runs look at it between avalanches.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

// Qt's own notes (an unset XDG_RUNTIME_DIR, say) stay off stderr, which
// carries only this program's one-line errors; the plot reports its failures.
void quietQt(QtMsgType, const QMessageLogContext &, const QString &) {}

extern "C" void onInterrupt(int)
{
    interrupted.store(true);
}

int fail(int status, const std::string &message)
{
    std::fprintf(stderr, "sandpile-stats: %s\n", message.c_str());
    return status;
}

// Fails early, before any measuring, on an output that cannot be written.
void checkOutputs(const Options &options)
{
    if (!options.csv.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.csv, error);
        if (error)
            throw std::runtime_error("cannot create the folder " + options.csv + ": " + error.message());
        AtomicFiles::checkWritableFolder(options.csv);
    }
    if (!options.plot.empty()) {
        if (std::filesystem::is_directory(options.plot))
            throw std::runtime_error("cannot write " + options.plot + ": it is a folder");
        const std::filesystem::path parent = std::filesystem::path(options.plot).parent_path();
        AtomicFiles::checkWritableFolder(parent.empty() ? "." : parent.string());
    }
}

SeriesResult measure(const Options &options)
{
    std::unique_ptr<Progress> progress;
    if (isatty(STDERR_FILENO))
        progress = std::make_unique<Progress>(stderr, options.series.totalGrains());
    SeriesResult result = Series::run(options.series, &interrupted, [&](std::int64_t done) {
        if (progress)
            progress->update(done);
    });
    if (progress)
        progress->finish();
    return result;
}

std::vector<std::int64_t> runsAsked(const Series::Settings &settings)
{
    std::vector<std::int64_t> runs;
    for (std::int64_t k = 0; k < settings.runs; ++k)
        runs.push_back(settings.firstRun + k);
    return runs;
}

} // namespace

int main(int argc, char *argv[])
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;   // a second Ctrl-C ends the program at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    Options options;
    try {
        options = Options::parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const Options::UsageError &error) {
        return fail(EXIT_USAGE, std::string(error.what()) + " (see sandpile-stats --help)");
    }
    if (options.help) {
        std::fputs(Options::usage(), stdout);
        return 0;
    }

    try {
        checkOutputs(options);
        SeriesResult result;
        if (!options.merge.empty()) {
            result = CsvFolder::merge(options.merge);
            std::fputs(Report::header(result.seed, result.runs(), result.grainsPerRun).c_str(), stdout);
        } else {
            // The header goes out at once: the runs can take hours.
            std::fputs(Report::header(options.series.seed, runsAsked(options.series), options.series.grains).c_str(),
                       stdout);
            std::fflush(stdout);
            result = measure(options);
        }
        std::fputs(Report::body(result).c_str(), stdout);
        std::fflush(stdout);

        if (!options.csv.empty())
            CsvFolder::write(result, options.csv);
        if (!options.plot.empty()) {
            // Offscreen: the plot needs Qt's fonts, never a display.
            qputenv("QT_QPA_PLATFORM", "offscreen");
            qInstallMessageHandler(quietQt);
            int qtArgc = 1;
            QGuiApplication application(qtArgc, argv);
            Plot::write(result, options.plot);
        }
        return options.merge.empty() && result.interrupted() ? EXIT_INTERRUPTED : 0;
    } catch (const std::bad_alloc &) {
        return fail(EXIT_IO, "out of memory");
    } catch (const std::exception &error) {
        return fail(EXIT_IO, error.what());
    }
}
