// Series of runs: the window's avalanches, determinism whatever the threads,
// merging, and the CSV files written.

#include "csvfolder.h"
#include "measurer.h"
#include "report.h"
#include "series.h"
#include "sidesummary.h"
#include "engine/graindriver.h"

#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>
#include <pthread.h>

#include <fstream>
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
    settings.sides = {5, 16};
    settings.grains = 20000;
    settings.firstRun = firstRun;
    settings.runs = runs;
    settings.threads = threads;
    return settings;
}

// Everything the tool prints and writes for a result, as one text.
std::string everything(const SeriesResult &result)
{
    std::string text = Report::header(result.seed, result.runs(), result.grainsPerRun) + Report::body(SeriesSummary(result))
                       + CsvFolder::summaryCsv(SeriesSummary(result));
    for (const SeriesResult::Side &side : result.sides)
        text += CsvFolder::distributionCsv(side.tally.size) + CsvFolder::distributionCsv(side.tally.area)
                + CsvFolder::distributionCsv(side.tally.duration) + CsvFolder::rawCsv(side.tally);
    return text;
}

std::string fileText(const QString &path)
{
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

class TestStatsSeries : public QObject
{
    Q_OBJECT

private slots:
    // With the default seed and no warm-up, the tool sees the avalanches
    // the window's driver makes tick by tick from its starting pile.
    void firstAvalanchesAreTheWindows()
    {
        constexpr int AVALANCHES = 200;
        std::vector<std::int64_t> sizes, durations;
        std::atomic<bool> stop{false};
        Measurer stopping({149, 1000000, 0, Random::DEFAULT_SEED}, &stop);
        stopping.setListener([&](std::int64_t size, std::int64_t, std::int64_t duration) {
            sizes.push_back(size);
            durations.push_back(duration);
            if (int(sizes.size()) == AVALANCHES)
                stop = true;
        });
        const Tally tally = stopping.measure(0);
        QVERIFY(tally.interrupted());
        QCOMPARE(int(sizes.size()), AVALANCHES);

        SandpileModel model(149);
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
        CsvFolder::write(SeriesSummary(joined), merged.toStdString());
        const QStringList files = QDir(whole).entryList(QDir::Files);
        QCOMPARE(files.size(), 1 + 4 * 2);
        QCOMPARE(QDir(merged).entryList(QDir::Files), files);
        for (const QString &name : files)
            QVERIFY2(fileText(whole + "/" + name) == fileText(merged + "/" + name), qPrintable(name));

        QVERIFY_THROWS_EXCEPTION(std::runtime_error, CsvFolder::merge({first.toStdString(), first.toStdString()}));
    }

    void distributionColumns()
    {
        const SeriesResult result = Series::run(smallSeries(0, 1, 1));
        const Histogram &sizes = result.sides.back().tally.size;
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
    }
};

QTEST_GUILESS_MAIN(TestStatsSeries)
#include "tst_stats_series.moc"
