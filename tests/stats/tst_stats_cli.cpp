// The real program: help, bad input, its plots, and Ctrl-C.

#include "plot.h"
#include "series.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>
#include <functional>
#include <unistd.h>

namespace {

struct Outcome {
    int status;
    QByteArray out, err;
};

Outcome runTool(const QStringList &arguments, const QString &folder,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.setProcessEnvironment(environment);
    tool.start(SANDPILE_STATS_EXECUTABLE, arguments);
    tool.waitForFinished(120000);
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, tool.readAllStandardOutput(),
            tool.readAllStandardError()};
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

} // namespace

class TestStatsCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        // Two small series of different seeds, a file, a folder that is not
        // the tool's and one with a damaged summary.
        for (const char *seed : {"1", "2"})
            QCOMPARE(runTool({"--size", "4", "--grains", "100", "--seed", seed, "--csv", QString("seed") + seed},
                             dir.path())
                         .status,
                     0);
        writeFile(dir.filePath("file"), "x");
        QVERIFY(QDir(dir.path()).mkdir("empty"));
        QVERIFY(QDir(dir.path()).mkdir("damaged"));
        writeFile(dir.filePath("damaged/summary.csv"), "L,seed\n4,1\n");
        // Paths that fail only when written to: a symbolic link loop, one
        // to nothing, a folder where a CSV file goes.
        QVERIFY(QFile::link("loop", dir.filePath("loop")));
        QVERIFY(QFile::link("nowhere/x", dir.filePath("dangling.png")));
        QVERIFY(QDir(dir.path()).mkpath("taken/summary.csv"));
        // Runs 0 and 1 of one series, for merging.
        for (const char *run : {"0", "1"})
            QCOMPARE(runTool({"--size", "8", "--size", "16", "--size", "32", "--grains", "5000", "--threads", "1",
                              "--first-run", run, "--csv", QString("run") + run},
                             dir.path())
                         .status,
                     0);
    }

    void help()
    {
        const Outcome outcome = runTool({"--help"}, dir.path());
        QCOMPARE(outcome.status, 0);
        QVERIFY(outcome.out.startsWith("Usage: sandpile-stats"));
        QVERIFY(outcome.err.isEmpty());
    }

    void version()
    {
        const Outcome outcome = runTool({"--version"}, dir.path());
        QCOMPARE(outcome.status, 0);
        QVERIFY(QRegularExpression("^sandpile-stats \\d+\\.\\d+\\.\\d+\n$").match(QString(outcome.out)).hasMatch());
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("leftAlone");   // a path that must not appear
        const auto row = [](const char *name, QStringList arguments, int status, QString leftAlone = {}) {
            QTest::newRow(name) << arguments << status << leftAlone;
        };
        row("unknown option", {"--frobnicate"}, 2);
        row("stray argument", {"149"}, 2);
        row("size too small", {"--size", "1"}, 2);
        row("size too large", {"--size", QString::number(Series::Settings::MAX_SIDE + 1)}, 2);
        row("unknown starting pile", {"--start", "sideways"}, 2);
        row("size with junk", {"--size", "12abc"}, 2);
        row("negative size", {"--size", "-5"}, 2);
        row("size missing", {"--size"}, 2);
        row("size twice", {"--size", "8", "--size=8"}, 2);
        row("zero grains", {"--grains", "0"}, 2);
        row("overflowing grains", {"--grains", "99999999999999999999"}, 2);
        row("negative warm-up", {"--warmup", "-1"}, 2);
        row("zero runs", {"--runs", "0"}, 2);
        row("zero threads", {"--threads", "0"}, 2);
        row("zero seed", {"--seed", "0"}, 2);
        row("negative first run", {"--first-run", "-1"}, 2);
        row("plot format", {"--size", "4", "--plot", "p.gif"}, 2, "p.gif");
        row("merge without folder", {"--merge"}, 2);
        row("merge empty folder name", {"--merge="}, 2);
        row("grains overflow in all", {"--size", "2", "--grains", "1000000000000000", "--runs", "9300"}, 2);
        row("merge with a size", {"--merge", "seed1", "--size", "4"}, 2);
        row("unwritable csv folder", {"--size", "4", "--grains", "10", "--csv", "file/out"}, 1, "file/out");
        row("unwritable plot", {"--size", "4", "--grains", "10", "--plot", "file/p.png"}, 1, "file/p.png");
        row("merge missing folder", {"--merge", "nowhere"}, 1);
        row("merge missing, csv", {"--merge", "nowhere", "--csv", "mout"}, 1);
        row("csv with unwritable plot", {"--size", "4", "--grains", "10", "--csv", "newout", "--plot", "nodir/p.png"}, 1);
        row("merge foreign folder", {"--merge", "empty"}, 1);
        row("merge damaged folder", {"--merge", "damaged"}, 1);
        row("merge mixed seeds", {"--merge", "seed1", "seed2", "--csv", "mixed"}, 1, "mixed/summary.csv");
        row("merge a run twice", {"--merge", "seed1", "seed1"}, 1);
        // Outputs that cannot be written fail before the first grain of
        // what would be a run of hours.
        const QString longName(300, 'a');
        for (const auto &[name, outputs] : std::initializer_list<std::pair<const char *, QStringList>>{
                 {"csv name too long", {"--csv", longName}},
                 {"plot name too long", {"--plot", longName + ".png"}},
                 {"csv through a file", {"--csv", "file/../out"}},
                 {"csv a link loop", {"--csv", "loop"}},
                 {"plot in a link loop", {"--plot", "loop/p.png"}},
                 {"csv a link to nothing", {"--csv", "dangling.png"}},
                 {"plot a link to nothing", {"--plot", "dangling.png"}},
                 {"csv and plot the same", {"--csv", "same.png", "--plot", "same.png"}},
                 {"csv file taken by a folder", {"--csv", "taken"}},
             })
            row(name, QStringList{"--size", "4", "--grains", "1000000000000"} + outputs, 1);
    }

    void badInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, leftAlone);
        const qsizetype csv = arguments.indexOf("--csv");
        const bool csvWasThere = csv >= 0 && QFileInfo::exists(dir.filePath(arguments.at(csv + 1)));
        const Outcome outcome = runTool(arguments, dir.path());
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.err.startsWith("sandpile-stats: ") && outcome.err.count('\n') == 1, outcome.err);
        QVERIFY2(outcome.out.isEmpty() || status == 1, outcome.out);
        if (!leftAlone.isEmpty())
            QVERIFY(!QFile::exists(dir.filePath(leftAlone)));
        if (csv >= 0 && !csvWasThere)   // no folder left behind
            QVERIFY(!QFileInfo::exists(dir.filePath(arguments.at(csv + 1))));
    }

    // A raw file changed by hand is refused in one line naming the file
    // and the line at fault, before anything is written.
    void tamperedRawFiles_data()
    {
        QTest::addColumn<QString>("prefix");   // of the line changed, the first to start so (or the last)
        QTest::addColumn<bool>("last");
        QTest::addColumn<std::function<QString(QString)>>("change");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("at");   // where the line named is: 0 the line changed, -1 its block's, 1 at or after it
        const auto row = [](const char *name, const char *prefix, std::function<QString(QString)> change,
                            const char *fault, int at, bool last = false) {
            QTest::newRow(name) << QString(prefix) << last << change << QString(fault) << at;
        };
        // A number of a line, changed: its third field or its last.
        const auto field = [](int index, std::function<qint64(qint64)> f) {
            return [=](QString line) {
                QStringList fields = line.split(',');
                fields[index] = QString::number(f(fields[index].toLongLong()));
                return fields.join(',');
            };
        };
        const auto value = [&field](std::function<qint64(qint64)> f) { return field(3, f); };
        const auto replace = [](const char *from, const char *to) {
            return [=](QString line) { return line.replace(from, to); };
        };
        row("a block's size^1 sum", "block_sum,1,size^1,", value([](qint64 v) { return v + 50000; }),
            "size^1 sum is not its topplings", -1);
        row("a block's topplings", "block,1,", value([](qint64 v) { return v + 1; }), "size^1 sum is not its topplings", 0);
        row("a block's avalanches", "block_sum,1,avalanches,", value([](qint64 v) { return v + 1; }), "", 1);
        row("an area out of order", "area,,21,", replace("area,,21,", "area,,31,"), "out of order", 1);
        row("the last duration", "duration,,", field(2, [](qint64 v) { return v + 1; }), "duration", 0, true);
        row("a count of none", "size,,1,", value([](qint64) { return 0; }), "malformed", 0);
        row("a run marked interrupted", "run,1,", replace("interrupted,0", "interrupted,1"),
            "measured every grain asked for, yet was interrupted", 0);
        row("a height twice", "height,,1,", replace("height,,1,", "height,,0,"), "out of order", 0);
    }

    void tamperedRawFiles()
    {
        QFETCH(QString, prefix);
        QFETCH(bool, last);
        QFETCH(std::function<QString(QString)>, change);
        QFETCH(QString, fault);
        QFETCH(int, at);
        QTemporaryDir work;
        for (const char *run : {"run0", "run1"}) {
            QVERIFY(QDir().mkpath(work.filePath(run)));
            for (const QString &name : QDir(dir.filePath(run)).entryList(QDir::Files))
                QVERIFY(QFile::copy(dir.filePath(run) + "/" + name, work.filePath(run) + "/" + name));
        }
        QFile raw(work.filePath("run1/raw_L32.csv"));
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromUtf8(raw.readAll()).split('\n');
        raw.close();
        qsizetype edited = -1, block = -1;
        for (qsizetype i = 0; i < lines.size() && edited < 0; ++i) {
            if (lines[i].startsWith("block,"))
                block = i;
            if (lines[i].startsWith(prefix))
                edited = i;
        }
        while (last && lines[edited + 1].startsWith(prefix))
            ++edited;
        QVERIFY(edited > 0);
        lines[edited] = change(lines[edited]);
        writeFile(raw.fileName(), lines.join('\n').toUtf8());

        const Outcome outcome = runTool({"--merge", "run0", "run1", "--csv", "out", "--plot", "out.svg"}, work.path());
        QCOMPARE(outcome.status, 1);
        QVERIFY2(outcome.err.count('\n') == 1 && outcome.err.contains(fault.toUtf8()), outcome.err);
        const QRegularExpressionMatch named =
            QRegularExpression(R"(^sandpile-stats: \S*run1/raw_L32.csv line (\d+): )").match(QString::fromUtf8(outcome.err));
        QVERIFY2(named.hasMatch(), outcome.err);
        const qsizetype line = named.captured(1).toLongLong() - 1;
        QVERIFY2(at == 0 ? line == edited : at < 0 ? line == block : line >= edited, outcome.err);
        QVERIFY(outcome.out.isEmpty());
        QVERIFY(!QFileInfo::exists(work.filePath("out")) && !QFileInfo::exists(work.filePath("out.svg")));
    }

    // Settings that the series refuses, from the table the Python module's
    // tests share: a usage error with the series' own words.
    void settingsFaults_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("fault");
        QFile table(SETTINGS_FAULTS);
        QVERIFY(table.open(QIODevice::ReadOnly));
        const QJsonArray rows = QJsonDocument::fromJson(table.readAll()).array();
        QVERIFY(!rows.isEmpty());
        for (const QJsonValue &row : rows) {
            QStringList arguments;
            for (const QJsonValue &argument : row["command_line"].toArray())
                arguments << argument.toString();
            QTest::newRow(qPrintable(arguments.join(' '))) << arguments << row["fault"].toString().toUtf8();
        }
    }

    void settingsFaults()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, fault);
        const Outcome outcome = runTool(arguments, dir.path());
        QCOMPARE(outcome.status, 2);
        QCOMPARE(outcome.err, "sandpile-stats: " + fault + " (see sandpile-stats --help)\n");
        QVERIFY(outcome.out.isEmpty());
    }

    // One avalanche per side: every density the same, the axis still a
    // decade, and scaling panels from moments without errors. The plot goes
    // into the folder --csv makes.
    void plotOfOnePoint()
    {
        QCOMPARE(runTool({"--size", "2", "--size", "3", "--size", "4", "--grains", "1", "--csv", "one", "--plot",
                          "one/one.svg"},
                         dir.path())
                     .status,
                 0);
        QFile svg(dir.filePath("one/one.svg"));
        QVERIFY(svg.open(QIODevice::ReadOnly));
        const QByteArray text = svg.readAll();
        QVERIFY(text.contains("<polyline"));
        QVERIFY(!text.toLower().contains("nan") && !text.toLower().contains("inf"));
    }

    // Three sides: the distributions, then sigma(q) and the collapse below,
    // each panel with its curves.
    void plots()
    {
        Series::Settings settings;
        settings.sides = {16, 32, 48};
        settings.grains = 20000;
        settings.threads = 2;
        const SeriesResult result = Series::run(settings);
        QTemporaryDir dir;

        const QString png = dir.filePath("p.png");
        Plot::write(SeriesSummary(result), png.toStdString());
        const QImage image(png);
        constexpr int PANELS = 1 + Plot::SCALING_PANELS;
        QCOMPARE(image.size(), QSize(Plot::WIDTH, PANELS * Plot::HEIGHT));
        for (int panel = 0; panel < PANELS; ++panel) {
            int drawn = 0;   // coloured pixels of the curves inside the frame
            for (int y = 60; y < Plot::HEIGHT - 80; ++y)
                for (int x = 100; x < Plot::WIDTH - 40; ++x) {
                    const QColor c = image.pixelColor(x, panel * Plot::HEIGHT + y);
                    drawn += std::abs(c.red() - c.blue()) > 60 || std::abs(c.green() - c.blue()) > 60;
                }
            QVERIFY2(drawn > 500, qPrintable(QString("panel %1: %2").arg(panel).arg(drawn)));
        }

        const QString svg = dir.filePath("p.svg");
        Plot::write(SeriesSummary(result), svg.toStdString());
        QFile file(svg);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        int polylines = 0;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("polyline"))
                ++polylines;
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(polylines > 10);
    }

    // A report or help that cannot be written fails, and a run stops before
    // it begins: the grains asked for would take hours.
    void unwritableStdout_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("closed");   // else full
        for (const bool closed : {false, true}) {
            const QByteArray how = closed ? "closed" : "full";
            QTest::newRow("help, " + how) << QStringList{"--help"} << closed;
            QTest::newRow("run, " + how) << QStringList{"--size", "8", "--grains", "1000000000000"} << closed;
            QTest::newRow("merge, " + how) << QStringList{"--merge", "seed1"} << closed;
        }
    }

    void unwritableStdout()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, closed);
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        if (closed)
            tool.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
        else
            tool.setStandardOutputFile("/dev/full");
        tool.start(SANDPILE_STATS_EXECUTABLE, arguments);
        QVERIFY(tool.waitForFinished(120000));
        QCOMPARE(tool.exitCode(), 1);
        const QByteArray error = tool.readAllStandardError();
        QVERIFY2(error.startsWith("sandpile-stats: ") && error.count('\n') == 1, error);
    }

    // Under a locale with decimal commas the report and every file read as
    // under the C locale.
    void sameBytesUnderAnyLocale()
    {
        const QString localedef = QStandardPaths::findExecutable("localedef");
        if (localedef.isEmpty())
            QSKIP("no localedef to build a locale with");
        QTemporaryDir locales;
        QProcess build;
        build.start(localedef, {"-i", "de_DE", "-f", "UTF-8", locales.filePath("de_DE.UTF-8")});
        if (!build.waitForFinished(120000) || build.exitCode() != 0)
            QSKIP("localedef could not build de_DE.UTF-8");
        QProcessEnvironment german = QProcessEnvironment::systemEnvironment();
        german.insert("LOCPATH", locales.path());
        german.insert("LC_ALL", "de_DE.UTF-8");
        QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
        plain.insert("LC_ALL", "C");

        const QStringList series{"--size", "8", "--size", "16", "--size", "32", "--grains", "100000", "--threads", "2"};
        const Outcome c = runTool(series + QStringList{"--csv", "c", "--plot", "c.svg"}, dir.path(), plain);
        const Outcome de = runTool(series + QStringList{"--csv", "de", "--plot", "de.svg"}, dir.path(), german);
        QCOMPARE(c.status, 0);
        QCOMPARE(de.status, 0);
        const QRegularExpression decimal(QString::fromUtf8(R"(\d\.\d{3})"));   // "0.957", not "0,957"
        QVERIFY(decimal.match(QString::fromUtf8(c.out)).hasMatch());
        QCOMPARE(de.out, c.out);
        const auto contents = [&](const QString &path) {
            QFile file(dir.filePath(path));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
        };
        QVERIFY(decimal.match(QString::fromUtf8(contents("c.svg"))).hasMatch());
        QCOMPARE(contents("de.svg"), contents("c.svg"));
        for (const QString &name : QDir(dir.filePath("c")).entryList(QDir::Files))
            QCOMPARE(contents("de/" + name), contents("c/" + name));
    }

    // An output of --merge that is one of its inputs, however named, is
    // refused before any input is read (these two would not merge), and
    // the input is left as it was.
    void mergeOntoAnInput()
    {
        const auto contents = [&] {
            QByteArray all;
            for (const QString &name : QDir(dir.filePath("seed1")).entryList(QDir::Files)) {
                QFile file(dir.filePath("seed1/" + name));
                all += name.toUtf8() + (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing"));
            }
            return all;
        };
        QCOMPARE(runTool({"--size", "4", "--grains", "100", "--first-run", "1", "--csv", "run1.svg"}, dir.path()).status, 0);
        const QByteArray before = contents();
        for (const QStringList &outputs : {QStringList{"--csv", "seed1"}, QStringList{"--csv", "./seed1/"},
                                           QStringList{"--csv", dir.filePath("seed2") + "/../seed1"},
                                           QStringList{"--csv", "fresh", "--plot", "run1.svg"}}) {
            const Outcome outcome = runTool(QStringList{"--merge", "seed2", "seed1", "run1.svg"} + outputs, dir.path());
            QCOMPARE(outcome.status, 2);
            QVERIFY2(outcome.err.contains("is also a --merge input") && outcome.err.count('\n') == 1, outcome.err);
            QVERIFY(!QFileInfo::exists(dir.filePath("fresh")));
        }
        QCOMPARE(contents(), before);
    }

    void mergesItsOwnFolders()
    {
        const Outcome outcome = runTool({"--merge", "seed1"}, dir.path());
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.out, runTool({"--size", "4", "--grains", "100"}, dir.path()).out);
    }

    // Ctrl-C stops the runs at their next avalanche; the report of what was
    // measured so far is marked partial, and written. A second Ctrl-C sent
    // along with the first (to the process and its group) changes nothing.
    void interrupt()
    {
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        tool.start(SANDPILE_STATS_EXECUTABLE, {"--size", "32", "--grains", "1000000000000", "--runs", "2",
                                               "--threads", "2", "--csv", "partial"});
        // The header line comes out once the handler is in place.
        QVERIFY(tool.waitForReadyRead(60000));
        QVERIFY(tool.readLine().startsWith("Bak-Tang-Wiesenfeld sandpile"));
        QCOMPARE(::kill(pid_t(tool.processId()), SIGINT), 0);
        QCOMPARE(::kill(pid_t(tool.processId()), SIGINT), 0);
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 130);
        const QByteArray report = tool.readAllStandardOutput();
        QVERIFY2(report.contains("PARTIAL") && report.contains("(partial)"), report);
        QFile summary(dir.filePath("partial/summary.csv"));
        QVERIFY(summary.open(QIODevice::ReadOnly));
        summary.readLine();
        QCOMPARE(summary.readLine().split(',').at(6), QByteArray("1"));   // the partial column
    }
};

QTEST_MAIN(TestStatsCli)
#include "tst_stats_cli.moc"
