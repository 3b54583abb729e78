// Series of runs: the window's avalanches, determinism whatever the threads,
// merging, and the CSV files written.

#include "csvfolder.h"
#include "measurer.h"
#include "report.h"
#include "series.h"
#include "sidesummary.h"
#include "engine/graindriver.h"
#include "../support/reference.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>
#include <pthread.h>

#include <cctype>
#include <fstream>
#include <random>
#include <sstream>

// Threads that may still start (-1: any); then they fail as under a
// resource limit.
static std::atomic<int> threadsLeft{-1};

extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *),
                              void *argument)
{
    for (int left = threadsLeft; left >= 0; left = threadsLeft)
        if (left == 0)
            return EAGAIN;
        else if (threadsLeft.compare_exchange_weak(left, left - 1))
            break;
    using Create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    return create(thread, attributes, start, argument);
}

namespace {

Series::Settings smallSeries(std::int64_t firstRun, std::int64_t runs, int threads)
{
    Series::Settings settings;
    settings.sides = {5, 8, 16};   // enough sides for the moments' scaling
    settings.grains = 20000;
    settings.firstRun = firstRun;
    settings.runs = runs;
    settings.threads = threads;
    return settings;
}

// Everything the tool prints and writes for a result, as one text.
std::string everything(const SeriesResult &result)
{
    std::string text = Report::header(result.seed, result.runs(), result.grainsPerRun, result.start)
                       + Report::body(SeriesSummary(result)) + CsvFolder::summaryCsv(SeriesSummary(result))
                       + CsvFolder::momentsCsv(SeriesSummary(result)) + CsvFolder::scalingCsv(SeriesSummary(result));
    for (const SeriesResult::Side &side : result.sides) {
        for (const Histogram &histogram : side.tally.histograms)
            text += CsvFolder::distributionCsv(histogram);
        text += CsvFolder::rawCsv(side.tally);
    }
    return text;
}

std::string fileText(const QString &path)
{
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Rewrites a file of a folder: the first match of a pattern, or every one.
void edit(const QString &path, const QString &pattern, const QString &replacement, bool everywhere)
{
    QString text = QString::fromStdString(fileText(path));
    const QRegularExpression expression(pattern, QRegularExpression::MultilineOption);
    if (everywhere) {
        text.replace(expression, replacement);
    } else {
        const QRegularExpressionMatch match = expression.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(pattern));
        QString replaced = replacement;
        for (int group = 1; group <= match.lastCapturedIndex(); ++group)
            replaced.replace("\\" + QString::number(group), match.captured(group));
        text.replace(match.capturedStart(), match.capturedLength(), replaced);
    }
    std::ofstream(path.toStdString(), std::ios::binary) << text.toStdString();
}

} // namespace

class TestStatsSeries : public QObject
{
    Q_OBJECT

private slots:
    // From the window's pile with the default seed and no warm-up, the tool
    // sees the avalanches the window's driver makes tick by tick.
    void firstAvalanchesAreTheWindows()
    {
        constexpr int AVALANCHES = 200;
        std::vector<std::int64_t> sizes, durations;
        std::atomic<bool> stop{false};
        Measurer stopping({Lattice::WINDOW_SIDE, 1000000, 0, Random::DEFAULT_SEED, StartingPile::Window}, &stop);
        stopping.setListener([&](std::int64_t size, std::int64_t, std::int64_t duration) {
            sizes.push_back(size);
            durations.push_back(duration);
            if (int(sizes.size()) == AVALANCHES)
                stop = true;
        });
        const Tally tally = stopping.measure(0);
        QVERIFY(tally.interrupted());
        QCOMPARE(int(sizes.size()), AVALANCHES);

        SandpileModel model(Lattice::WINDOW_SIDE);
        GrainDriver driver(model);
        driver.reinitialise();
        SandpileObserver none;
        std::vector<std::int64_t> windowSizes, windowDurations;
        std::int64_t sweeps = 0;
        while (int(windowSizes.size()) < AVALANCHES) {
            const GrainDriver::Tick tick = driver.tick(none);
            sweeps = tick.dropped ? 1 : sweeps + 1;
            if (!model.avalancheInProgress()) {
                windowSizes.push_back(model.avalancheSize());
                windowDurations.push_back(sweeps);
            }
        }
        QCOMPARE(sizes, windowSizes);
        QCOMPARE(durations, windowDurations);
        QCOMPARE(sizes[2], std::int64_t(9));
        QCOMPARE(durations[2], std::int64_t(7));
    }

    // Each avalanche's size and area as the reference pile, toppling one
    // site at a time, finds them from the same start and the same random
    // sites; a merged tally counts the avalanches of both parts; and the
    // moments are those of the avalanches heard.
    void avalanchesAgreeWithTheReference()
    {
        constexpr int SIDE = 12;
        constexpr std::int64_t SEED = 11;
        std::vector<std::pair<std::int64_t, std::int64_t>> heard;
        std::vector<std::array<std::int64_t, Tally::OBSERVABLES>> observed;
        Measurer measurer({SIDE, 3000, 0, SEED, StartingPile::Window});
        measurer.setListener([&](std::int64_t size, std::int64_t area, std::int64_t duration) {
            heard.emplace_back(size, area);
            observed.push_back({size, area, duration});
        });
        const Tally first = measurer.measure(0);

        Random random(SEED);
        std::vector<int> start(SIDE * SIDE);
        for (int &height : start)
            height = int(random.uniformRandom() * 4.0);
        ReferencePile reference(SIDE, start);
        for (const auto &[size, area] : heard) {
            int site;
            do
                site = int(random.uniformRandom() * SIDE * SIDE);
            while (++reference.z[std::size_t(site)] != 4);
            QCOMPARE(std::int64_t(reference.stabilise()), size);
            QCOMPARE(std::int64_t(reference.area), area);
            QVERIFY(area >= 1 && area <= size);
        }
        QVERIFY(first.histograms[Tally::Area].largest() > 20);

        const Tally second = measurer.measure(1);
        Tally merged = first;
        QVERIFY(merged.merge(second));
        for (std::size_t o = 0; o < Tally::OBSERVABLES; ++o) {
            std::map<std::int64_t, std::uint64_t> sum;
            for (const Tally *part : {&first, &second})
                part->histograms[o].forEach([&sum](std::int64_t value, std::uint64_t count) { sum[value] += count; });
            std::map<std::int64_t, std::uint64_t> joined;
            merged.histograms[o].forEach([&joined](std::int64_t value, std::uint64_t count) { joined[value] = count; });
            QVERIFY2(joined == sum, Tally::OBSERVABLE_NAMES[o]);
        }

        // Both runs' avalanches, heard in order: the moments of the merged
        // tally, and the blocks' power sums, are theirs.
        const SideSummary summary({SIDE, 0, merged});
        std::int64_t blockAvalanches = 0;
        for (const Tally::Run &run : merged.runs)
            for (const Tally::Block &block : run.blocks)
                blockAvalanches += block.avalanches;
        QCOMPARE(blockAvalanches, std::int64_t(observed.size()));
        for (int o = 0; o < Tally::OBSERVABLES; ++o)
            for (int k = 0; k < MomentScaling::ORDERS; ++k) {
                const double q = MomentScaling::order(k);
                long double sum = 0;
                for (const auto &x : observed)
                    sum += std::pow((long double)x[std::size_t(o)], (long double)q);
                double blockSum = 0;
                for (const Tally::Run &run : merged.runs)
                    for (const Tally::Block &block : run.blocks)
                        blockSum += block.powers[std::size_t(o)][std::size_t(k)];
                const MomentScaling::Estimate &moment = summary.moments[std::size_t(o)][std::size_t(k)];
                const double mean = double(sum / observed.size());
                const QString which = QString("%1^%2").arg(Tally::OBSERVABLE_NAMES[o]).arg(q);
                QVERIFY2(std::fabs(moment.value / mean - 1) < 1e-12, qPrintable(which));
                QVERIFY2(std::fabs(blockSum / double(sum) - 1) < 1e-12, qPrintable(which));
                // A few percent of a moment that is dominated by a few large
                // avalanches at high q, never zero.
                QVERIFY2(moment.error > 0 && moment.error < moment.value, qPrintable(which));
            }
    }

    // Each setting out of its bounds, and the two that only the whole
    // series can break; the defaults pass.
    void settingsFault_data()
    {
        QTest::addColumn<std::function<void(Series::Settings &)>>("change");
        QTest::addColumn<QString>("fault");
        using S = Series::Settings;
        const auto row = [](const char *name, std::function<void(S &)> change, QString fault) {
            QTest::newRow(name) << change << fault;
        };
        row("defaults", [](S &) {}, "");
        row("largest of each", [](S &s) {
            s.sides = {S::MAX_SIDE};
            s.grains = s.firstRun = S::MAX_COUNT;
            s.runs = 9000;
            s.warmup = 0;
            s.threads = S::MAX_THREADS;
            s.seed = Random::MODULUS - 1;
        }, "");
        row("no side", [](S &s) { s.sides.clear(); }, "no lattice side asked for");
        row("side too small", [](S &s) { s.sides = {8, 1}; }, "each side must be from 2 to 8192, not 1");
        row("side too large", [](S &s) { s.sides = {S::MAX_SIDE + 1}; }, "each side must be from 2 to 8192, not 8193");
        row("side twice", [](S &s) { s.sides = {8, 16, 8}; }, "side 8 asked for twice");
        row("no grains", [](S &s) { s.grains = 0; }, "grains must be from 1 to 1000000000000000, not 0");
        row("too many runs", [](S &s) { s.runs = S::MAX_RUNS + 1; }, "runs must be from 1 to 1000000, not 1000001");
        row("seed 0", [](S &s) { s.seed = 0; }, "seed must be from 1 to 2147483646, not 0");
        row("negative first run", [](S &s) { s.firstRun = -1; }, "the first run must be from 0");
        row("no thread", [](S &s) { s.threads = 0; }, "threads must be from 1 to 1024, not 0");
        row("warm-up below its default", [](S &s) { s.warmup = -2; }, "warm-up must be from 0");
        row("unknown pile", [](S &s) { s.start = StartingPile(7); }, "no such starting pile");
        row("too many grains", [](S &s) {
            s.grains = S::MAX_COUNT;
            s.runs = 9300;
        }, "too many grains in all");
    }

    void settingsFault()
    {
        QFETCH(std::function<void(Series::Settings &)>, change);
        QFETCH(QString, fault);
        Series::Settings settings;
        change(settings);
        const QString said = QString::fromStdString(settings.fault());
        QVERIFY2(fault.isEmpty() ? said.isEmpty() : said.startsWith(fault), qPrintable(said));
    }

    void sameOutputWhateverTheThreads()
    {
        const std::string one = everything(Series::run(smallSeries(0, 4, 1)));
        QCOMPARE(everything(Series::run(smallSeries(0, 4, 2))), one);
        QCOMPARE(everything(Series::run(smallSeries(0, 4, 3))), one);
        // Another seed is another series.
        Series::Settings other = smallSeries(0, 4, 2);
        other.seed = 2;
        QVERIFY(everything(Series::run(other)) != one);
    }

    // A run cut short keeps blocks, which depend only on the grains
    // measured: they are those of a whole run of that many grains.
    void partialRunHasBlocks()
    {
        std::atomic<bool> stop{false};
        Measurer stopping({16, 1000000000, 0, Random::DEFAULT_SEED}, &stop);
        int avalanches = 0;
        stopping.setListener([&](std::int64_t, std::int64_t, std::int64_t) { stop = ++avalanches == 20000; });
        const Tally partial = stopping.measure(0);
        QVERIFY(partial.interrupted());
        const std::int64_t grains = partial.grains();
        QVERIFY(grains > 32 * Measurer::blockGrains(16));   // enough to pair blocks up
        Tally whole = Measurer({16, grains, 0, Random::DEFAULT_SEED}).measure(0);
        QVERIFY(!whole.interrupted());
        whole.runs[0].interrupted = true;
        QVERIFY(whole == partial);
        const std::size_t blocks = partial.runs[0].blocks.size();
        QVERIFY(blocks >= Tally::MAX_BLOCKS_PER_RUN / 2 && blocks <= Tally::MAX_BLOCKS_PER_RUN);
        QVERIFY(std::isfinite(SideSummary({16, 0, partial}).topplingsError));
    }

    // Once stopped, no run starts, yet each side lists every run.
    void stoppedSeriesListsEveryRun()
    {
        std::atomic<bool> stop{true};
        const SeriesResult result = Series::run(smallSeries(3, 50, 4), &stop);
        QVERIFY(result.interrupted());
        for (const SeriesResult::Side &side : result.sides) {
            QCOMPARE(side.tally.runIndices().size(), std::size_t(50));
            QCOMPARE(side.tally.runIndices().front(), std::int64_t(3));
            QCOMPARE(side.tally.grains(), std::int64_t(0));
        }
    }

    void threadThatCannotStart_data()
    {
        QTest::addColumn<int>("started");
        QTest::newRow("none") << 0;
        QTest::newRow("one of two") << 1;
    }

    void threadThatCannotStart()
    {
        QFETCH(int, started);
        threadsLeft = started;
        std::string error;
        try {
            Series::run(smallSeries(0, 4, 2));
        } catch (const std::runtime_error &e) {
            error = e.what();
        }
        threadsLeft = -1;
        QVERIFY2(error.rfind("cannot start thread " + std::to_string(started + 1) + " of 2: ", 0) == 0,
                 error.c_str());
    }

    // More grains asked for in all than an int64 holds, as a merge can.
    void reportOfHugeSeries()
    {
        SeriesResult result;
        result.grainsPerRun = 1000000000000000;
        result.sides.push_back({2, 8, {}});
        for (std::int64_t run = 0; run < 10000; ++run)
            result.sides[0].tally.runs.push_back({run, true, {}});
        QVERIFY(Report::body(SeriesSummary(result)).find("0 of 10000000000000000000 asked for") != std::string::npos);
    }

    // A rename failing half-way leaves no summary.csv, so that the folder
    // cannot be merged, and no temporary file.
    void failedRenameLeavesNoSummary()
    {
        QTemporaryDir dir;
        const std::string folder = dir.filePath("out").toStdString();
        const SeriesResult result = Series::run(smallSeries(0, 1, 1));
        CsvFolder::write(SeriesSummary(result), folder);
        QVERIFY(QFile::remove(dir.filePath("out/raw_L16.csv")));
        QVERIFY(QDir().mkpath(dir.filePath("out/raw_L16.csv/full")));   // a folder cannot be replaced
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, CsvFolder::write(SeriesSummary(result), folder));
        QVERIFY(!QFile::exists(dir.filePath("out/summary.csv")));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, CsvFolder::read(folder));
        QCOMPARE(QDir(dir.filePath("out")).entryList({"*.tmp"}, QDir::Files | QDir::Hidden), QStringList());
    }

    // Two halves of a series, merged from their folders, give the whole
    // series' report and files byte for byte.
    void mergedHalvesEqualTheWhole()
    {
        QTemporaryDir dir;
        const QString whole = dir.filePath("whole"), first = dir.filePath("first"),
                      second = dir.filePath("second"), merged = dir.filePath("merged");
        for (const QString &folder : {whole, first, second, merged})
            QVERIFY(QDir().mkpath(folder));
        const SeriesResult all = Series::run(smallSeries(0, 4, 2));
        CsvFolder::write(SeriesSummary(all), whole.toStdString());
        CsvFolder::write(SeriesSummary(Series::run(smallSeries(0, 2, 2))), first.toStdString());
        CsvFolder::write(SeriesSummary(Series::run(smallSeries(2, 2, 1))), second.toStdString());

        const SeriesResult joined = CsvFolder::merge({second.toStdString(), first.toStdString()});
        QCOMPARE(everything(joined), everything(all));
        const SeriesSummary summary(joined);
        QVERIFY(summary.scaled);   // the moments, sigma, D and tau are compared, not left out
        for (const MomentScaling &scaling : summary.scaling)
            QVERIFY(scaling.valid && std::isfinite(scaling.tau.error));
        CsvFolder::write(summary, merged.toStdString());
        const QStringList files = QDir(whole).entryList(QDir::Files);
        QCOMPARE(files.size(), 3 + 4 * 3);
        QCOMPARE(QDir(merged).entryList(QDir::Files), files);
        for (const QString &name : files)
            QVERIFY2(fileText(whole + "/" + name) == fileText(merged + "/" + name), qPrintable(name));

        QVERIFY_THROWS_EXCEPTION(std::runtime_error, CsvFolder::merge({first.toStdString(), first.toStdString()}));
    }

    // summary.csv through its column table: written, read back equal, and
    // read the same with its columns in another order.
    void summaryRoundTrip()
    {
        QTemporaryDir dir;
        const SeriesResult result = Series::run(smallSeries(1, 2, 2));
        CsvFolder::write(SeriesSummary(result), dir.path().toStdString());
        QCOMPARE(everything(CsvFolder::read(dir.path().toStdString())), everything(result));

        const QString path = dir.filePath("summary.csv");
        QStringList lines = QString::fromStdString(fileText(path)).split('\n', Qt::SkipEmptyParts);
        for (QString &line : lines) {
            QStringList fields = line.split(',');
            std::reverse(fields.begin(), fields.end());
            line = fields.join(',');
        }
        std::ofstream(path.toStdString(), std::ios::binary) << (lines.join('\n') + '\n').toStdString();
        QCOMPARE(everything(CsvFolder::read(dir.path().toStdString())), everything(result));
    }

    // Power sums come back from raw_L*.csv to the bit, so that a merge
    // rebuilds the moments' errors exactly: every sum of a half-integer
    // order moved by one ulp, up or down, which only the last of %.17g's
    // digits can tell (and which the checks of a folder's sums allow).
    void powerSumsReadBackToTheBit()
    {
        SeriesResult result = Series::run(smallSeries(0, 2, 2));
        bool up = true;
        for (SeriesResult::Side &side : result.sides)
            for (Tally::Run &run : side.tally.runs)
                for (Tally::Block &block : run.blocks)
                    for (auto &sums : block.powers)
                        for (std::size_t k = 0; k < sums.size(); k += 2) {
                            sums[k] = std::nextafter(sums[k], up ? HUGE_VAL : 0.0);
                            up = !up;
                        }
        QTemporaryDir dir;
        CsvFolder::write(SeriesSummary(result), dir.path().toStdString());
        const SeriesResult back = CsvFolder::read(dir.path().toStdString());
        QCOMPARE(back.sides.size(), result.sides.size());
        for (std::size_t s = 0; s < result.sides.size(); ++s)
            QVERIFY(back.sides[s].tally == result.sides[s].tally);
    }

    // Folders no run of the tool can have written, each refused with one
    // line: impossible values, totals that overflow or disagree.
    void refusesImpossibleFolders_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<bool>("everywhere");
        QTest::addColumn<QString>("message");
        QTest::newRow("size past what L = 5 topples") << "raw_L5.csv" << "^size,,1," << "size,,9223372036854775807,"
                                                     << false << "avalanche size out of range";
        QTest::newRow("area past L^2") << "raw_L5.csv" << "^area,,1," << "area,,26," << false
                                       << "avalanche area out of range 1 to 25";
        QTest::newRow("count past the avalanches") << "raw_L5.csv" << "^size,,1,(\\d+)" << "size,,1,\\10"
                                                   << false << "counts disagree";
        QTest::newRow("grains wrap") << "raw_L5.csv" << "^block,1,\\d+,(.*\\n(?:block_sum,.*\\n)*)block,1,\\d+,"
                                     << "block,1,9223372036854775807,\\1block,1,9223372036854775807," << false
                                     << "overflow";
        QTest::newRow("heights past the piles") << "raw_L5.csv" << "^height,,0,\\d+"
                                                << "height,,0,9223372036854775807" << false << "height counts";
        QTest::newRow("no run") << "raw_L5.csv" << "^(run|block|block_sum),.*\\n" << "" << true << "no run recorded";
        QTest::newRow("block avalanches short") << "raw_L5.csv" << "^block_sum,1,avalanches,\\d+"
                                                << "block_sum,1,avalanches,0" << false
                                                << "a block without avalanches but with topplings or sums";
        QTest::newRow("power sum negative") << "raw_L5.csv" << "^block_sum,0,area\\^2,.*" << "block_sum,0,area^2,-1"
                                            << false << "power sums are not finite and non-negative";
        QTest::newRow("power sum infinite") << "raw_L5.csv" << "^block_sum,0,size\\^4,.*" << "block_sum,0,size^4,inf"
                                            << false << "power sums are not finite and non-negative";
        QTest::newRow("power sum missing") << "raw_L5.csv" << "^block_sum,1,duration\\^4,.*\\n" << "" << false
                                           << "a block without its duration^4 sum";
        QTest::newRow("renamed column") << "summary.csv" << "tau_eff_size," << "tau_size," << false
                                        << "no column tau_eff_size";
        QTest::newRow("row twice") << "summary.csv" << "^(5,.*\\n)" << "\\1\\1" << false << "L = 5 twice";
        QTest::newRow("seed 0") << "summary.csv" << "^5,\\d+," << "5,0," << false << "seed 0 out of range";
        QTest::newRow("grains disagree") << "summary.csv" << "^((?:[^,]*,){7})\\d+" << "\\1" "7" << false
                                         << "grains is 7 but";
        QTest::newRow("unknown column") << "summary.csv" << "^L," << "L,extra," << false << "unknown column 'extra'";
        QTest::newRow("missing column") << "summary.csv" << "^(.*),duration_n$" << "\\1" << false
                                        << "no column duration_n";
    }

    void refusesImpossibleFolders()
    {
        QFETCH(QString, file);
        QFETCH(QString, pattern);
        QFETCH(QString, replacement);
        QFETCH(bool, everywhere);
        QFETCH(QString, message);
        QTemporaryDir dir;
        CsvFolder::write(SeriesSummary(Series::run(smallSeries(0, 2, 2))), dir.path().toStdString());
        edit(dir.filePath(file), pattern, replacement, everywhere);
        std::string error;
        try {
            CsvFolder::merge({dir.path().toStdString()});
        } catch (const std::runtime_error &e) {
            error = e.what();
        }
        QVERIFY2(error.find(message.toStdString()) != std::string::npos, error.c_str());
        QVERIFY(error.find('\n') == std::string::npos);
    }

    // Parts that list their sides in another order merge as one series,
    // in the first part's order; parts whose sides differ do not.
    void mergesSidesInAnyOrder()
    {
        QTemporaryDir dir;
        Series::Settings settings = smallSeries(0, 2, 2);
        const auto write = [&](const char *name, std::vector<int> sides, std::int64_t firstRun) {
            settings.sides = sides;
            settings.firstRun = firstRun;
            CsvFolder::write(SeriesSummary(Series::run(settings)), dir.filePath(name).toStdString());
            return dir.filePath(name).toStdString();
        };
        const std::string ascending = write("ascending", {5, 8, 16}, 0), mixed = write("mixed", {16, 5, 8}, 2);
        settings.runs = 4;
        for (const auto &[parts, sides] : {std::pair{std::vector{ascending, mixed}, std::vector{5, 8, 16}},
                                           {std::vector{mixed, ascending}, std::vector{16, 5, 8}}}) {
            settings.sides = sides;
            settings.firstRun = 0;
            QCOMPARE(everything(CsvFolder::merge(parts)), everything(Series::run(settings)));
        }
        const std::string other = write("other", {5, 8, 32}, 4);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, CsvFolder::merge({ascending, other}));
    }

    // A raw file is checked against itself: one digit of raw_L32.csv
    // changed at random, the merge either refuses it, in one line naming
    // the file, or gives every byte it gave before. The one change no check
    // can tell from the rounding of a genuine file: a power sum other than
    // the exact x^1 moved within what adding up its avalanches' powers may
    // round; that sum passes into the merged files, and the report stays
    // as it was.
    void digitFlipsRefusedOrHarmless()
    {
        QTemporaryDir dir;
        Series::Settings settings;
        settings.sides = {8, 16, 32};
        settings.grains = 5000;
        std::vector<std::string> parts;
        for (std::int64_t run : {0, 1}) {
            settings.firstRun = run;
            parts.push_back(dir.filePath("run" + QString::number(run)).toStdString());
            CsvFolder::write(SeriesSummary(Series::run(settings)), parts.back());
        }
        const auto report = [](const SeriesResult &result) { return Report::body(SeriesSummary(result)); };
        const SeriesResult whole = CsvFolder::merge(parts);
        const std::string before = everything(whole), reportBefore = report(whole);
        const QString raw = dir.filePath("run1/raw_L32.csv");
        const std::string original = fileText(raw);
        std::vector<std::size_t> digits;
        for (std::size_t i = 0; i < original.size(); ++i)
            if (std::isdigit((unsigned char)original[i]))
                digits.push_back(i);
        const QRegularExpression roundedSum(R"(^block_sum,\d+,\w+\^(0\.5|1\.5|2|2\.5|3|3\.5|4),)");
        std::mt19937_64 random(20261207);
        int refused = 0, same = 0, rounded = 0;
        for (int flip = 0; flip < 400; ++flip) {
            std::string text = original;
            const std::size_t at = digits[random() % digits.size()];
            text[at] = char('0' + (text[at] - '0' + 1 + int(random() % 9)) % 10);
            std::ofstream(raw.toStdString(), std::ios::binary) << text;
            const std::size_t lineStart = text.rfind('\n', at) + 1;
            const std::string line = text.substr(lineStart, text.find('\n', at) - lineStart);
            try {
                const SeriesResult merged = CsvFolder::merge(parts);
                if (everything(merged) == before) {
                    ++same;
                    continue;
                }
                QVERIFY2(roundedSum.match(QString::fromStdString(line)).hasMatch(), line.c_str());
                QVERIFY2(report(merged) == reportBefore, line.c_str());
                ++rounded;
            } catch (const std::runtime_error &error) {
                const std::string message = error.what();
                QVERIFY2(message.find("raw_L32.csv") != std::string::npos && message.find('\n') == std::string::npos,
                         (line + ": " + message).c_str());
                ++refused;
            }
        }
        qInfo("of 400 flips: %d refused, %d changing nothing, %d a power sum within its rounding", refused, same,
              rounded);
        QVERIFY(refused > 300);
    }

    // Two parts each sound whose sum is not: heights past 2^63 in all.
    void refusesMergedOverflow()
    {
        QTemporaryDir dir;
        SeriesResult part;
        part.grainsPerRun = 1;
        part.sides.push_back({2, 0, {}});
        Tally &tally = part.sides[0].tally;
        constexpr std::int64_t GRAINS = (std::int64_t(1) << 61) - 1;   // a pile of 4 sites after each
        Tally::Block block{GRAINS, 1, 1, {}};   // one avalanche of s = a = T = 1
        for (auto &sums : block.powers)
            sums.fill(1);
        tally.runs.push_back({0, false, {block}});
        tally.histograms[Tally::Size].add(1);
        tally.histograms[Tally::Area].add(1);
        tally.histograms[Tally::Duration].add(1);
        tally.heights[0] = std::uint64_t(GRAINS) * 4;
        const std::string first = dir.filePath("a").toStdString(), second = dir.filePath("b").toStdString();
        CsvFolder::write(SeriesSummary(part), first);
        tally.runs[0].index = 1;
        CsvFolder::write(SeriesSummary(part), second);
        QCOMPARE(CsvFolder::read(second).sides[0].tally.grains(), GRAINS);
        std::string error;
        try {
            CsvFolder::merge({first, second});
        } catch (const std::runtime_error &e) {
            error = e.what();
        }
        QVERIFY2(error.find("L = 2: the height counts overflow") != std::string::npos, error.c_str());
    }

    void distributionColumns()
    {
        const SeriesResult result = Series::run(smallSeries(0, 1, 1));
        const Histogram &sizes = result.sides.back().tally.histograms[Tally::Size];
        std::istringstream csv(CsvFolder::distributionCsv(sizes));
        std::string line;
        std::getline(csv, line);
        QCOMPARE(line, std::string("bin_low,bin_high,count,density"));
        long long expectedLow = 1, lastLow = 0, total = 0;
        double probability = 0;
        while (std::getline(csv, line)) {
            long long low, high, count;
            double density;
            QCOMPARE(std::sscanf(line.c_str(), "%lld,%lld,%lld,%lf", &low, &high, &count, &density), 4);
            QCOMPARE(low, expectedLow);
            QVERIFY(high >= low);
            lastLow = low;
            expectedLow = high + 1;
            total += count;
            probability += density * double(high - low + 1);
        }
        QCOMPARE(std::uint64_t(total), sizes.total());
        QVERIFY(lastLow <= sizes.largest() && sizes.largest() < expectedLow);   // the last bin holds the largest
        QVERIFY(std::fabs(probability - 1) < 1e-4);

        // Bins up to the largest int64 neither overflow nor grow one by one.
        Histogram huge;
        huge.add(std::numeric_limits<std::int64_t>::max());
        const std::vector<Histogram::Bin> bins = huge.logBins();
        QVERIFY(bins.size() < 250);
        QCOMPARE(bins.back().high, std::numeric_limits<std::int64_t>::max());
        QCOMPARE(bins.back().count, std::uint64_t(1));
    }
};

QTEST_GUILESS_MAIN(TestStatsSeries)
#include "tst_stats_series.moc"
