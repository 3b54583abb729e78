// A seeded "monkey" soak: a million ticks of the real widget interleaved
// with random user actions, checked after every tick against an
// independent reference pile. Replay a failure with the seed it prints:
//   SANDPILE_SOAK_SEED=<seed> build/tests/tst_soak
// and soak longer with SANDPILE_SOAK_TICKS=<ticks>.

#include "support/probe.h"
#include "support/reference.h"

#include <QtTest>

#include <random>

namespace {

constexpr int MAX_FRONT = (Lattice::N + 1) / 2;   // the larger checkerboard class

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

} // namespace

class SoakTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandpile> sandpile;
    std::unique_ptr<ReferencePile> reference;
    std::mt19937 monkey;
    QString replay;                  // how to replay the run, for failure messages

    // What the display rules say the picture shows: the heights, unless
    // the display is off or a burning test's picture is up.
    bool burnPictureUp = false;
    int expectedLargest = 0;
    long long expectedTopplings = 0;   // of the avalanche in progress, from the reference
    long long grainsIn = 0;            // grains added since the reference last synchronised
    long long startGrains = 0;
    long long avalanchesChecked = 0;
    long long burnsRun = 0;

    void synchronise()
    {
        reference = std::make_unique<ReferencePile>(SandpileProbe::heights(*sandpile));
        startGrains = reference->grains();
        grainsIn = 0;
        expectedTopplings = -1;   // no avalanche the reference has seen start
    }

    bool styleKeepsStatistics() const { return SandpileProbe::runningStyle(*sandpile) <= Sandpile::Sprinkle; }

    // Feeds the reference the grains the next tick will add, as the
    // driver's rules say, and stabilises it.
    void predictTick()
    {
        Sandpile &s = *sandpile;
        if (SandpileProbe::speed(s) == Sandpile::Pause || SandpileProbe::frontCount(s) > 0)
            return;
        const int style = SandpileProbe::runningStyle(s);
        if (style >= Sandpile::Fractalsand0) {
            grainsIn += 4 - reference->z[Lattice::CENTRE_SITE];
            reference->z[Lattice::CENTRE_SITE] = 4;
        } else if (SandpileProbe::burnOn(s)) {
            return;
        } else if (style == Sandpile::Sprinkle) {
            const int site = SandpileProbe::selectedSite(s);
            if (site < 0)
                return;
            ++grainsIn;
            if (++reference->z[site] != 4)
                return;
        } else {
            grainsIn += reference->addRandomDrop();
        }
        expectedTopplings = reference->stabilise();
    }

    // The checks made after every tick.
    void checkTick(bool burnRanBefore)
    {
        Sandpile &s = *sandpile;
        const int frontCount = SandpileProbe::frontCount(s);
        QVERIFY2(frontCount >= 0 && frontCount <= MAX_FRONT, qPrintable(replay));
        if (!burnRanBefore && SandpileProbe::burnDone(s)) {
            burnPictureUp = true;
            ++burnsRun;
        }
        if (styleKeepsStatistics())
            expectedLargest = std::max(expectedLargest, SandpileProbe::avalancheSize(s));
        QVERIFY2(SandpileProbe::largestAvalanche(s) == (styleKeepsStatistics() ? expectedLargest : 0),
                 qPrintable(replay));
        if (frontCount > 0)
            return;
        // Between avalanches: the reference's pile, hence every height in
        // 0..3, every grain held or lost across the edge, and s the
        // reference's number of topplings.
        if (SandpileProbe::heights(s) != reference->z)
            QFAIL(qPrintable("the pile differs from the reference; " + replay));
        if (expectedTopplings >= 0) {
            QVERIFY2(SandpileProbe::avalancheSize(s) == expectedTopplings, qPrintable(replay));
            expectedTopplings = -1;
            ++avalanchesChecked;
        }
        QVERIFY2(reference->grains() + reference->lost == startGrains + grainsIn, qPrintable(replay));
    }

    void checkPicture()
    {
        Sandpile &s = *sandpile;
        if (!SandpileProbe::displayOn(s) || burnPictureUp)
            return;
        SandpileProbe::presentChanges(s);
        QVERIFY2(firstSiteNotShowingItsHeight(screenOf(s), SandpileProbe::heights(s)) == -1, qPrintable(replay));
    }

    // One random thing a user can do.
    void act()
    {
        Sandpile &s = *sandpile;
        const int previousStyle = SandpileProbe::runningStyle(s);
        switch (std::uniform_int_distribution<int>(0, 9)(monkey)) {
        case 0: {
            const int style = std::uniform_int_distribution<int>(0, 4)(monkey);
            choose(s, "slotRunningStyle", style);
            const bool keeps = style == previousStyle || (style <= Sandpile::Sprinkle && previousStyle <= Sandpile::Sprinkle);
            if (!keeps)
                restarted();
            break;
        }
        case 1:
            choose(s, "slotSpeed", std::uniform_int_distribution<int>(0, 1)(monkey) ? Sandpile::Pause : Sandpile::Fast);
            break;
        case 2: {
            const bool on = !SandpileProbe::displayOn(s);
            toggle(s, "slotDisplay", on);
            if (on)
                burnPictureUp = false;
            break;
        }
        case 3: {
            const bool on = !SandpileProbe::burnOn(s);
            toggle(s, "slotBurn", on);
            if (!on)
                burnPictureUp = false;
            break;
        }
        case 4:
            if (std::uniform_int_distribution<int>(0, 9)(monkey) == 0) {
                QMetaObject::invokeMethod(&s, "slotStartAgain");
                restarted();
            }
            break;
        default: {
            // Presses anywhere, often on the lattice, sometimes outside it.
            const QPoint at(std::uniform_int_distribution<int>(-20, 820)(monkey),
                            std::uniform_int_distribution<int>(-20, 620)(monkey));
            pressAt(s, at);
            break;
        }
        }
    }

    void restarted()
    {
        burnPictureUp = false;
        expectedLargest = 0;
        for (int h : SandpileProbe::heights(*sandpile))
            QVERIFY2(h >= 0 && h <= 3, qPrintable(replay));
        synchronise();
    }

    // Clicks every site below 3 up to 3, as a user of "sprinkle" can, so
    // that the next grain sets off the largest avalanches the lattice has.
    void fillWithClicks()
    {
        Sandpile &s = *sandpile;
        for (int site = 0; site < Lattice::N; ++site) {
            while (SandpileProbe::height(s, site) < 3) {
                pressAt(s, pointOf(site));
                predictTick();
                tick(s);
                checkTick(true);
            }
        }
    }

private slots:
    void monkeyCannotBreakTheModel()
    {
        const int seed = environmentNumber("SANDPILE_SOAK_SEED", 20261207);
        const int ticks = environmentNumber("SANDPILE_SOAK_TICKS", 1000000);
        replay = QStringLiteral("replay with SANDPILE_SOAK_SEED=%1 SANDPILE_SOAK_TICKS=%2").arg(seed).arg(ticks);
        qInfo("%s", qPrintable(replay));
        monkey.seed(seed);

        sandpile = freshSandpile(true);
        SandpileProbe::setFrameInterval(*sandpile, 1000 * 1000);
        synchronise();
        Ticker ticker(*sandpile);
        for (int t = 0; t < ticks; ++t) {
            if (std::uniform_int_distribution<int>(0, 999)(monkey) == 0) {
                act();
                if (QTest::currentTestFailed())
                    return;
            }
            const bool burnRan = SandpileProbe::burnDone(*sandpile);
            predictTick();
            ticker();
            checkTick(burnRan);
            if (QTest::currentTestFailed())
                return;
            if (t % 50000 == 0)
                checkPicture();
        }
        qInfo("%lld avalanches checked, %lld burning tests, %lld grains", avalanchesChecked, burnsRun,
              SandpileProbe::grainsAdded(*sandpile));
        QVERIFY(avalanchesChecked > 1000);
    }

    void fullPileTakesGrainsAtItsCentreAndCorners()
    {
        replay = QStringLiteral("the full-pile scenario");
        sandpile = freshSandpile(true);
        choose(*sandpile, "slotRunningStyle", Sandpile::Sprinkle);
        synchronise();
        expectedLargest = 0;
        for (int site : {Lattice::CENTRE_SITE, 0, Lattice::L - 1, Lattice::N - Lattice::L, Lattice::N - 1}) {
            fillWithClicks();
            pressAt(*sandpile, pointOf(site));
            predictTick();
            do {
                tick(*sandpile);
                checkTick(true);
            } while (SandpileProbe::frontCount(*sandpile) > 0);
            if (site == Lattice::CENTRE_SITE)
                QCOMPARE(SandpileProbe::avalancheSize(*sandpile), 562475);
            checkPicture();
            // The filled pile is recurrent: it burns entirely.
            toggle(*sandpile, "slotBurn", true);
            tick(*sandpile);
            QCOMPARE(SandpileProbe::lastBurn(*sandpile).boundaryFront > 0, true);
            toggle(*sandpile, "slotBurn", false);
            tick(*sandpile);
        }
    }
};

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
