// The real program in a real X server (Xvfb), seen and driven only as a
// user would: xdotool for the mouse and the window, screenshots for what
// the screen shows.

#include "app/sandpilewindow.h"
#include "engine/lattice.h"
#include "sandpile/latticeimage.h"
#include "sandpile/sandpile.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QtTest>

namespace {

// The program's geometry as seen from outside, checked against its own
// constants when compiled; nothing of the program is linked.
constexpr QPoint WINDOW_AT(0, 50);   // where the program places its window
constexpr QSize WINDOW_SIZE(1000, 700);
constexpr QPoint LATTICE_IN_WINDOW(200, 50);   // the picture's top-left corner
constexpr int CELL = 4;                        // the side of a site's square
constexpr int L = Lattice::WINDOW_SIDE;
constexpr int N = L * L;
constexpr int CENTRE = (L / 2) * L + L / 2;
static_assert(WINDOW_AT == SandpileWindow::INITIAL_GEOMETRY.topLeft());
static_assert(WINDOW_SIZE == SandpileWindow::INITIAL_GEOMETRY.size());
static_assert(LATTICE_IN_WINDOW == SandpileWindow::SANDPILE_GEOMETRY.topLeft() + Sandpile::LATTICE_ORIGIN);
static_assert(CELL == LatticeImage::CELL);
static_assert(L == Sandpile::SIDE);

const QString TITLE = QStringLiteral("BTW model on a square lattice");

// A point of the window in screen coordinates.
QPoint onScreen(int x, int y)
{
    return WINDOW_AT + QPoint(x, y);
}

// The centre of a site's square on the screen.
QPoint siteOnScreen(int site)
{
    return WINDOW_AT + LATTICE_IN_WINDOW + QPoint(site % L * CELL + CELL / 2, site / L * CELL + CELL / 2);
}

const QRect LATTICE_ON_SCREEN(WINDOW_AT + LATTICE_IN_WINDOW, QSize(L * CELL, L * CELL));
const QPoint MODE_COMBO = onScreen(900, 295);
const QPoint DISPLAY_BUTTON = onScreen(900, 77);
const QPoint REINITIALISE_BUTTON = onScreen(900, 142);
const QPoint BURN_BUTTON = onScreen(900, 207);
const QRect GRAINS_READOUT(onScreen(50, 95), QSize(100, 50));
const QPoint SPEED_COMBO = onScreen(900, 375);
const QColor HEIGHT_COLOURS[] = {Qt::black, Qt::darkGray, Qt::lightGray, Qt::white, Qt::red};

int heightShown(const QImage &screen, int site)
{
    const QColor colour = screen.pixelColor(siteOnScreen(site));
    return int(std::find(std::begin(HEIGHT_COLOURS), std::end(HEIGHT_COLOURS), colour) - HEIGHT_COLOURS);
}

} // namespace

class X11Test : public QObject
{
    Q_OBJECT

    QProcess server;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    QByteArray run(const QString &command, const QStringList &arguments, int timeoutMs = 20000)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(command, arguments);
        if (!process.waitForFinished(timeoutMs) || process.exitCode() != 0)
            qWarning() << command << arguments << "failed:" << process.readAllStandardError();
        return process.readAllStandardOutput();
    }

    void xdotool(const QStringList &arguments) { run(QStringLiteral("xdotool"), arguments); }

    void click(QPoint at)
    {
        xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    }

    // Chooses an item of a combo box as a user does: open it, type, press
    // Return, a moment apart each, as a person's hand would be.
    void choose(QPoint combo, const QString &item)
    {
        click(combo);
        QTest::qWait(300);
        xdotool({"type", "--delay", "50", item});
        xdotool({"key", "Return"});
        QTest::qWait(300);
    }

    QImage screenshot()
    {
        return QImage::fromData(run(QStringLiteral("import"), {"-window", "root", "png:-"}), "PNG")
            .convertToFormat(QImage::Format_RGB32);
    }

    // Takes screenshots until one satisfies a condition, for up to ten
    // seconds, so that the check holds however fast the machine draws;
    // returns the last one.
    template <typename Condition>
    QImage screenWhen(Condition condition)
    {
        QElapsedTimer waited;
        waited.start();
        QImage screen = screenshot();
        while (!condition(screen) && waited.elapsed() < 10000) {
            QTest::qWait(50);
            screen = screenshot();
        }
        return screen;
    }

    // Whether every square of the lattice shows a height's colour.
    static bool showsHeightsEverywhere(const QImage &screen)
    {
        for (int site = 0; site < N; ++site)
            if (heightShown(screen, site) == int(std::size(HEIGHT_COLOURS)))
                return false;
        return true;
    }

    int yellowSquares(const QImage &screen)
    {
        int count = 0;
        for (int site = 0; site < N; ++site)
            count += screen.pixelColor(siteOnScreen(site)) == QColor(Qt::yellow);
        return count;
    }

    static int changedSquares(const QImage &before, const QImage &after)
    {
        int changed = 0;
        for (int site = 0; site < N; ++site)
            changed += before.pixelColor(siteOnScreen(site)) != after.pixelColor(siteOnScreen(site));
        return changed;
    }

    // The dark segments a digit display lights: none when it is blank.
    static int litSegmentPixels(const QImage &screen, const QRect &readout)
    {
        int lit = 0;
        for (int y = readout.top() + 4; y <= readout.bottom() - 4; ++y)
            for (int x = readout.left() + 4; x <= readout.right() - 4; ++x)
                lit += qGray(screen.pixel(x, y)) < 100;
        return lit;
    }

    QString windowId()
    {
        return QString::fromLatin1(
                   run(QStringLiteral("xdotool"), {"search", "--sync", "--onlyvisible", "--name", "^" + TITLE + "$"}))
            .split('\n')
            .first();
    }

    void startProgram()
    {
        QProcessEnvironment env = environment;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStringLiteral(SANDPILE_EXECUTABLE), {});
        QVERIFY(program.waitForStarted());
        QVERIFY(!windowId().isEmpty());
        QVERIFY(showsHeightsEverywhere(screenWhen(showsHeightsEverywhere)));   // the first paint
    }

    void quitWithTheButton()
    {
        click(onScreen(900, 622));
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        server.start(QStringLiteral("Xvfb"),
                     {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        QVERIFY2(server.waitForStarted(), "Xvfb could not be started");
        QVERIFY(server.waitForReadyRead(10000));
        const QByteArray display = server.readAllStandardOutput().trimmed();
        QVERIFY(!display.isEmpty());
        environment.insert(QStringLiteral("DISPLAY"), ":" + QString::fromLatin1(display));
    }

    void cleanupTestCase()
    {
        server.terminate();
        server.waitForFinished(5000);
    }

    void cleanup()
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished();
        }
    }

    void windowOpensWithItsTitlePlaceAndSize()
    {
        startProgram();
        const QString geometry = QString::fromLatin1(
            run(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", windowId()}));
        QVERIFY2(geometry.contains(QStringLiteral("X=%1\n").arg(WINDOW_AT.x()))
                     && geometry.contains(QStringLiteral("Y=%1\n").arg(WINDOW_AT.y())), qPrintable(geometry));
        QVERIFY2(geometry.contains(QStringLiteral("WIDTH=%1\n").arg(WINDOW_SIZE.width()))
                     && geometry.contains(QStringLiteral("HEIGHT=%1\n").arg(WINDOW_SIZE.height())), qPrintable(geometry));
        QCOMPARE(QString::fromLatin1(run(QStringLiteral("xdotool"), {"getwindowname", windowId()})).trimmed(),
                 TITLE);
        quitWithTheButton();
    }

    void screenShowsTheLegendAndThePile()
    {
        startProgram();
        const QImage screen = screenshot();
        const QColor *swatches = HEIGHT_COLOURS;
        for (int row = 0; row < 5; ++row)
            QCOMPARE(screen.pixelColor(onScreen(825, 475 + 20 * row)), swatches[row]);

        // Every square of the lattice is drawn in one colour of the scheme,
        // and the pile has sites of every stable height.
        int seen[5] = {};
        for (int site = 0; site < N; ++site) {
            const QPoint centre = siteOnScreen(site);
            const QColor colour = screen.pixelColor(centre);
            QCOMPARE(screen.pixelColor(centre - QPoint(2, 2)), colour);
            QCOMPARE(screen.pixelColor(centre + QPoint(1, 1)), colour);
            const int height = heightShown(screen, site);
            QVERIFY2(height < 5, qPrintable(QStringLiteral("site %1 is %2").arg(site).arg(colour.name())));
            ++seen[height];
        }
        for (int height = 0; height < 4; ++height)
            QVERIFY(seen[height] > 500);
        quitWithTheButton();
    }

    // Pause freezes the running pile; in "sprinkle" a click drops one grain
    // there once the speed is "fast" again.
    void pausedPileTakesAClickedGrainWhenResumed()
    {
        startProgram();
        choose(SPEED_COMBO, QStringLiteral("pause"));
        choose(MODE_COMBO, QStringLiteral("sprinkle"));
        const QImage paused = screenshot().copy(LATTICE_ON_SCREEN);
        QTest::qWait(300);   // a while in which nothing may change
        QCOMPARE(screenshot().copy(LATTICE_ON_SCREEN), paused);
        // Let the avalanche that pause caught run out; no grain is pending.
        choose(SPEED_COMBO, QStringLiteral("fast"));
        choose(SPEED_COMBO, QStringLiteral("pause"));

        // A site near the centre that can take a grain without toppling.
        QImage before = screenshot();
        int site = CENTRE;
        while (heightShown(before, site) >= 3)
            ++site;
        const int height = heightShown(before, site);
        click(siteOnScreen(site));
        QTest::qWait(300);   // a while in which nothing may change
        QCOMPARE(heightShown(screenshot(), site), height);   // held while paused

        choose(SPEED_COMBO, QStringLiteral("fast"));
        const QImage after = screenWhen([&](const QImage &screen) { return heightShown(screen, site) != height; });
        QCOMPARE(heightShown(after, site), height + 1);
        int changedSquares = 0;
        for (int i = 0; i < N; ++i)
            changedSquares += heightShown(after, i) != heightShown(before, i);
        QCOMPARE(changedSquares, 1);
        quitWithTheButton();
    }

    // Burn shows the burnt sites in yellow; an exposure after the window
    // was covered shows the heights again, and so does releasing Burn.
    void burnShowsYellowUntilUncoveredOrReleased()
    {
        startProgram();
        click(BURN_BUTTON);
        // Every edge site holding 3 burns at least, and every square shows
        // either a burnt site or a height.
        const QImage burnt = screenWhen([&](const QImage &screen) { return yellowSquares(screen) > 0; });
        QVERIFY(yellowSquares(burnt) > 0);
        for (int site = 0; site < N; ++site)
            QVERIFY(heightShown(burnt, site) < 5 || burnt.pixelColor(siteOnScreen(site)) == QColor(Qt::yellow));

        QProcess cover;
        cover.setProcessEnvironment(environment);
        cover.start(QStringLiteral("xmessage"), {"-name", "cover", "-geometry", "400x400+300+150", "covering the lattice"});
        QVERIFY(cover.waitForStarted());
        QVERIFY(!run(QStringLiteral("xdotool"), {"search", "--sync", "--onlyvisible", "--classname", "cover"}).isEmpty());
        cover.kill();
        cover.waitForFinished();
        QCOMPARE(yellowSquares(screenWhen([&](const QImage &screen) { return yellowSquares(screen) == 0; })), 0);

        click(BURN_BUTTON);
        QTest::qWait(300);   // a while in which no yellow may come back
        const QImage released = screenshot();
        QCOMPARE(yellowSquares(released), 0);
        for (int site = 0; site < N; ++site)
            QVERIFY(heightShown(released, site) < 5);
        quitWithTheButton();
    }

    // The pile changes as it runs; "slow" changes it far less in the same time.
    void runningPileChangesFastAndSlow()
    {
        startProgram();
        const QImage first = screenshot();
        const QImage changed = screenWhen([&](const QImage &screen) { return changedSquares(first, screen) > 200; });
        QVERIFY(changedSquares(first, changed) > 200);

        // The same wall-clock span at both speeds: slow is paced by the
        // clock (at most ten sweeps a second), fast by the machine.
        constexpr int SPAN_MS = 300;
        const QImage fastFirst = screenshot();
        QTest::qWait(SPAN_MS);
        const int fastChanges = changedSquares(fastFirst, screenshot());
        choose(SPEED_COMBO, QStringLiteral("slow"));
        const QImage slowFirst = screenshot();
        QTest::qWait(SPAN_MS);
        QVERIFY(changedSquares(slowFirst, screenshot()) < fastChanges);
        quitWithTheButton();
    }

    // Display off freezes the picture while the grain count goes on.
    void displayOffFreezesThePictureButNotTheCount()
    {
        startProgram();
        click(DISPLAY_BUTTON);
        // Once the click has arrived the picture stands still.
        QImage off = screenshot();
        screenWhen([&](const QImage &screen) {
            const bool still = screen.copy(LATTICE_ON_SCREEN) == off.copy(LATTICE_ON_SCREEN);
            off = screen;
            return still;
        });
        const QImage later = screenWhen(
            [&](const QImage &screen) { return screen.copy(GRAINS_READOUT) != off.copy(GRAINS_READOUT); });
        QCOMPARE(later.copy(LATTICE_ON_SCREEN), off.copy(LATTICE_ON_SCREEN));
        QVERIFY(later.copy(GRAINS_READOUT) != off.copy(GRAINS_READOUT));

        click(DISPLAY_BUTTON);
        QVERIFY(changedSquares(later, screenWhen([&](const QImage &screen) { return changedSquares(later, screen) > 100; })) > 100);
        quitWithTheButton();
    }

    // Each fractalsand style starts from its flat pile and grows a pattern
    // from the centre, with the read-outs blank. Running slow, a second
    // holds at most ten ticks, far too few for the pattern to reach the
    // corners, however fast the machine.
    void fractalsandGrowsFromTheCentreOfAFlatPile_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<int>("flatHeight");
        QTest::newRow("0") << QStringLiteral("fractalsand 0") << 0;
        QTest::newRow("1") << QStringLiteral("fractalsand 1") << 1;
        QTest::newRow("2") << QStringLiteral("fractalsand 2") << 2;
    }
    void fractalsandGrowsFromTheCentreOfAFlatPile()
    {
        QFETCH(QString, style);
        QFETCH(int, flatHeight);
        startProgram();
        choose(SPEED_COMBO, QStringLiteral("pause"));
        choose(MODE_COMBO, style);
        const QImage flat = screenWhen([&](const QImage &screen) { return heightShown(screen, 0) == flatHeight; });
        for (int site = 0; site < N; ++site)
            QCOMPARE(heightShown(flat, site), flatHeight);

        choose(SPEED_COMBO, QStringLiteral("slow"));
        QTest::qWait(1000);
        choose(SPEED_COMBO, QStringLiteral("pause"));
        const QImage screen = screenshot();
        for (int corner : {0, L - 1, N - L, N - 1})
            QCOMPARE(heightShown(screen, corner), flatHeight);
        int patterned = 0;
        for (int row = L / 2 - 10; row <= L / 2 + 10; ++row)
            for (int column = L / 2 - 10; column <= L / 2 + 10; ++column)
                patterned += heightShown(screen, row * L + column) != flatHeight;
        QVERIFY(patterned >= 4);   // the centre has toppled onto its neighbours
        QCOMPARE(litSegmentPixels(screen, GRAINS_READOUT), 0);
        quitWithTheButton();
    }

    // Re-initialise puts a fresh random pile on the screen at once.
    void reinitialiseShowsAFreshPile()
    {
        startProgram();
        choose(SPEED_COMBO, QStringLiteral("pause"));
        const QImage before = screenshot();
        QVERIFY(litSegmentPixels(before, GRAINS_READOUT) > 0);
        click(REINITIALISE_BUTTON);
        const QImage after = screenWhen([&](const QImage &screen) { return changedSquares(before, screen) > N / 2; });
        QVERIFY(changedSquares(before, after) > N / 2);
        int seen[5] = {};
        for (int site = 0; site < N; ++site)
            ++seen[std::min(heightShown(after, site), 4)];
        QCOMPARE(seen[4], 0);
        for (int height = 0; height < 4; ++height)
            QVERIFY(seen[height] > 4000);   // uniform over 0..3
        quitWithTheButton();
    }
};

QTEST_GUILESS_MAIN(X11Test)
#include "tst_x11.moc"
