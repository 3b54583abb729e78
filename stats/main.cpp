// sandpile-stats: measures the Bak-Tang-Wiesenfeld sandpile's avalanches
// from the command line. See sandpile-stats(1) and Options::usage().

#include "atomicfiles.h"
#include "commandline.h"
#include "csvfolder.h"
#include "interrupt.h"
#include "options.h"
#include "plot.h"
#include "progress.h"
#include "report.h"
#include "series.h"

#include <QGuiApplication>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace {

const CommandLine commandLine("sandpile-stats");
constexpr int EXIT_USAGE = CommandLine::EXIT_USAGE;
constexpr int EXIT_IO = CommandLine::EXIT_IO;
// Qt's own notes (an unset XDG_RUNTIME_DIR, say) stay off stderr, which
// carries only this program's one-line errors; the plot reports its failures.
void quietQt(QtMsgType, const QMessageLogContext &, const QString &) {}

int fail(int status, const std::string &message)
{
    return commandLine.fail(status, message);
}

namespace fs = std::filesystem;

// Fails early, before any measuring and with nothing created, on an output
// that cannot be written. The plot may go into the folder --csv makes.
void checkOutputs(const Options &options, const std::vector<int> &sides)
{
    if (!options.csv.empty())
        for (const std::string &name : CsvFolder::fileNames(sides))
            AtomicFiles::checkWritable((fs::path(options.csv) / name).string(), true);
    if (!options.plot.empty()) {
        if (!options.csv.empty() && AtomicFiles::samePath(options.csv, options.plot))
            throw std::runtime_error("--csv and --plot name the same path, " + options.plot);
        const fs::path folder = fs::path(options.plot).parent_path();
        AtomicFiles::checkWritable(options.plot, !options.csv.empty() && AtomicFiles::samePath(options.csv, folder.empty() ? "." : folder));
    }
}

// An output of --merge that is one of its inputs, which writing it would
// overwrite; "" when none is.
std::string outputIsInput(const Options &options)
{
    for (const std::string &input : options.merge)
        for (const auto &[option, output] : {std::pair{"--csv", options.csv}, {"--plot", options.plot}})
            if (!output.empty() && AtomicFiles::samePath(output, input))
                return std::string(option) + " " + output + " is also a --merge input, which it would overwrite";
    return {};
}

// The first error in writing standard output; 0: none yet.
int stdoutError = 0;

void flushStdout()
{
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && stdoutError == 0)
        stdoutError = errno != 0 ? errno : EIO;
}

// A report (or help) that could not be written is a failure.
void checkStdout()
{
    flushStdout();
    if (stdoutError != 0)
        throw std::runtime_error(std::string("cannot write to standard output: ") + std::strerror(stdoutError));
}

SeriesResult measure(const Options &options)
{
    std::unique_ptr<Progress> progress;
    std::int64_t total = 0;
    if (options.series.totalGrains(total) && isatty(STDERR_FILENO))
        progress = std::make_unique<Progress>(stderr, total);
    SeriesResult result = Series::run(options.series, &Interrupt::interrupted(), [&](std::int64_t done) {
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
    Interrupt::install();

    Options options;
    try {
        options = Options::parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const Options::UsageError &error) {
        return fail(EXIT_USAGE, std::string(error.what()) + " (see sandpile-stats --help)");
    }
    // With standard output closed, the first file opened would take its
    // place and receive the report.
    if (fcntl(STDOUT_FILENO, F_GETFD) == -1)
        return fail(EXIT_IO, "cannot write to standard output: it is closed");

    try {
        if (options.help) {
            std::fputs(Options::usage().c_str(), stdout);
        } else if (options.version) {
            std::fputs(CommandLine("sandpile-stats").versionLine().c_str(), stdout);
        } else {
            SeriesResult result;
            if (!options.merge.empty()) {
                if (const std::string input = outputIsInput(options); !input.empty())
                    return fail(EXIT_USAGE, input + " (see sandpile-stats --help)");
                result = CsvFolder::merge(options.merge);
                std::vector<int> sides;
                for (const SeriesResult::Side &side : result.sides)
                    sides.push_back(side.side);
                checkOutputs(options, sides);
                std::fputs(Report::header(result.seed, result.runs(), result.grainsPerRun, result.start).c_str(), stdout);
            } else {
                checkOutputs(options, options.series.sides);
                // The header goes out at once: the runs can take hours, and
                // are not started when the report cannot be written.
                std::fputs(
                    Report::header(options.series.seed, runsAsked(options.series), options.series.grains,
                                   options.series.start)
                        .c_str(),
                    stdout);
                checkStdout();
                result = measure(options);
            }
            const SeriesSummary summary(std::move(result));
            std::fputs(Report::body(summary).c_str(), stdout);
            flushStdout();   // the report first; a failure is told once the files are safe

            if (!options.csv.empty())
                CsvFolder::write(summary, options.csv);
            if (!options.plot.empty()) {
                // Offscreen: the plot needs Qt's fonts, never a display.
                qputenv("QT_QPA_PLATFORM", "offscreen");
                qInstallMessageHandler(quietQt);
                int qtArgc = 1;
                QGuiApplication application(qtArgc, argv);
                // Qt has set the user's locale; numbers keep the C one's form.
                std::setlocale(LC_NUMERIC, "C");
                Plot::write(summary, options.plot);
            }
        }
        checkStdout();
        if (std::fclose(stdout) != 0)
            throw std::runtime_error(std::string("cannot write to standard output: ") + std::strerror(errno));
        // A Ctrl-C while the files were written still counts: they are
        // written whole, and the status says the work was interrupted.
        return Interrupt::interrupted().load() ? Interrupt::exitStatus() : 0;
    } catch (const std::bad_alloc &) {
        return fail(EXIT_IO, "out of memory");
    } catch (const std::exception &error) {
        return fail(EXIT_IO, error.what());
    }
}
