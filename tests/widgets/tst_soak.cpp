// A seeded "monkey" soak: a million ticks of the real widget interleaved
// with random user actions, each tick checked against a prediction: a
// second engine given the same actions tells what the tick must do, an
// independent reference pile what the pile and the avalanche sizes must
// come to, and the display rules what the read-outs and the picture show.
// Replay a failure with the seed it prints:
//   SANDPILE_SOAK_SEED=<seed> build/tests/tst_soak
// and soak longer with SANDPILE_SOAK_TICKS=<ticks>.

#include "support/reference.h"
#include "support/sandpiletest.h"

#include "engine/graindriver.h"

#include <QtTest>

#include <array>
#include <random>

using namespace WidgetGeometry;

namespace {

constexpr int MAX_FRONT = (N + 1) / 2;   // the larger checkerboard class
enum ReadoutRow { Grains, Slope, S, Largest };

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
    std::unique_ptr<Ticker> ticker;
    std::array<QLCDNumber *, 4> lcds{};
    QByteArray replay;   // how to replay the run, for failure messages

    // The prediction: the same pile driven by a second engine, and the
    // reference pile between avalanches.
    std::unique_ptr<SandpileModel> twin;
    std::unique_ptr<GrainDriver> twinDriver;
    std::unique_ptr<ReferencePile> reference;
    long long expectedTopplings = -1;   // of the avalanche in progress, from the reference
    long long grainsIn = 0;             // grains added since the reference last synchronised
    long long startGrains = 0;
    std::int64_t largestSeen = 0;

    // What the display rules say is shown.
    bool displayOn = true;
    bool burnPictureUp = false;          // the burning test's picture, until a full redraw
    std::vector<int> pictureHeights;     // the heights of the last full redraw, while the display is off
    struct Shown {
        double value = 0;
        bool blank = false;
    };
    std::array<Shown, 4> readouts;

    long long avalanchesChecked = 0;
    long long burnsRun = 0;

    std::mt19937 monkey;
    int draw(int low, int high) { return std::uniform_int_distribution<int>(low, high)(monkey); }

    void start()
    {
        sandpile = freshSandpile();
        ticker = std::make_unique<Ticker>(*sandpile);
        for (int r = 0; r < 4; ++r)
            lcds[r] = readout(*sandpile, READOUTS[r]);
        twin = std::make_unique<SandpileModel>(L);
        twinDriver = std::make_unique<GrainDriver>(*twin);
        twin->reinitialise(SandpileModel::RunFree);
        displayOn = true;
        refilled();
    }

    bool keepsStatistics() const { return twinDriver->keepsStatistics(); }

    // After a new starting pile: the reference starts from it, and the
    // random styles show fresh read-outs.
    void refilled()
    {
        const SandpileModel &pile = sandpile->model();
        if (pile.z() != twin->z())
            QFAIL(qPrintable("the new pile differs from the prediction; " + replay));
        for (int h : pile.z())
            QVERIFY2(h >= 0 && h <= 3, replay.constData());
        reference = std::make_unique<ReferencePile>(L, pile.z());
        startGrains = reference->grains();
        grainsIn = 0;
        expectedTopplings = -1;
        largestSeen = 0;
        burnPictureUp = false;
        pictureHeights = pile.z();
        if (keepsStatistics())
            readouts = {Shown{0}, Shown{averageHeight(pile.z())}, Shown{0}, Shown{0}};
    }

    // Feeds the reference the grains the next tick will add, as the
    // driver's rules say, and stabilises it.
    void predictGrains()
    {
        if (twinDriver->speed() == GrainDriver::Pause || twin->avalancheInProgress())
            return;
        if (twinDriver->isFractalsand()) {
            grainsIn += 4 - reference->z[CENTRE];
            reference->z[CENTRE] = 4;
        } else if (twinDriver->burnOn()) {
            return;
        } else if (twinDriver->runningStyle() == SandpileModel::Sprinkle) {
            const int site = twin->selectedSite();
            if (site < 0)
                return;
            ++grainsIn;
            if (++reference->z[site] != 4)
                return;
        } else {
            grainsIn += reference->addRandomDrop(twin->random());
        }
        expectedTopplings = reference->stabilise();
    }

    // What the read-outs must show after a tick that did this.
    void predictReadouts(GrainDriver::Tick did)
    {
        if (!keepsStatistics()) {
            if (did.dropped)
                for (Shown &shown : readouts)
                    shown.blank = true;
            return;
        }
        if (did.dropped)
            readouts[Grains] = Shown{double(twin->grainsAdded())};
        if (did.swept) {
            largestSeen = std::max(largestSeen, twin->avalancheSize());
            if (displayOn)
                readouts[S] = Shown{double(twin->avalancheSize())};
            readouts[Largest] = Shown{double(largestSeen)};
            if (twin->grainsAdded() % 100 == 0)
                readouts[Slope] = Shown{averageHeight(twin->z())};
        }
    }

    void checkReadouts(bool lookAtTheDigits)
    {
        for (int r = 0; r < 4; ++r) {
            const Shown &expected = readouts[r];
            if (lcds[r]->value() != (expected.blank ? 0.0 : expected.value))
                QFAIL(qPrintable(QString::fromLatin1(READOUTS[r]) + " shows " + QString::number(lcds[r]->value())
                                 + "; " + replay));
            if (lookAtTheDigits)
                QVERIFY2(isBlank(*lcds[r]) == expected.blank, replay.constData());
        }
    }

    // One tick of the widget, checked.
    void step()
    {
        predictGrains();
        SandpileObserver nobody;
        const GrainDriver::Tick did = twinDriver->tick(nobody);
        QVERIFY((*ticker)());
        if (did.burnt) {
            burnPictureUp = true;
            ++burnsRun;
        }

        const SandpileModel &pile = sandpile->model();
        if (pile.frontCount() != twin->frontCount() || pile.grainsAdded() != twin->grainsAdded()
            || pile.avalancheSize() != twin->avalancheSize() || pile.largestAvalanche() != twin->largestAvalanche()
            || pile.selectedSite() != twin->selectedSite())
            QFAIL(qPrintable("the tick did not do what the driver's rules say; " + replay));
        QVERIFY2(pile.frontCount() >= 0 && pile.frontCount() <= MAX_FRONT, replay.constData());
        predictReadouts(did);
        checkReadouts(false);
        if (QTest::currentTestFailed() || pile.avalancheInProgress() || !(did.dropped || did.swept))
            return;

        // Between avalanches: the reference's pile, hence every height in
        // 0..3, every grain held or lost across the edge, and s the
        // reference's number of topplings.
        if (pile.z() != reference->z)
            QFAIL(qPrintable("the pile differs from the reference; " + replay));
        if (expectedTopplings >= 0) {
            QVERIFY2(pile.avalancheSize() == expectedTopplings, replay.constData());
            expectedTopplings = -1;
            ++avalanchesChecked;
        }
        QVERIFY2(reference->grains() + reference->lost == startGrains + grainsIn, replay.constData());
    }

    // The picture: the burning test's, yellow exactly where it burnt; else
    // the heights, as they are or, with the display off, as last redrawn.
    void checkPicture()
    {
        Sandpile &s = *sandpile;
        const QImage screen = screenOf(s);
        if (burnPictureUp)
            QVERIFY2(firstSiteMisshowingTheBurn(screen, s.model()) == -1, replay.constData());
        else
            QVERIFY2(firstSiteNotShowingItsHeight(screen, displayOn ? s.model().z() : pictureHeights) == -1,
                     replay.constData());
        checkReadouts(true);
    }

    // A full redraw: the picture shows the heights, whatever the display.
    void redrawn()
    {
        burnPictureUp = false;
        pictureHeights = sandpile->model().z();
    }

    void press(QPoint at)
    {
        pressAt(*sandpile, at);
        twin->selectSite(twinDriver->runningStyle() == SandpileModel::Sprinkle ? siteAt(at) : -1);
        QVERIFY2(sandpile->model().selectedSite() == twin->selectedSite(), replay.constData());
    }

    // One random thing a user can do.
    void act()
    {
        Sandpile &s = *sandpile;
        switch (draw(0, 9)) {
        case 0: {
            const int style = draw(0, 4);
            choose(s, "slotRunningStyle", style);
            if (twinDriver->setRunningStyle(SandpileModel::RunningStyle(style)))
                refilled();
            checkPicture();
            break;
        }
        case 1: {
            const auto speed = draw(0, 1) ? GrainDriver::Pause : GrainDriver::Fast;
            choose(s, "slotSpeed", speed);
            twinDriver->setSpeed(speed);
            break;
        }
        case 2:
            displayOn = !displayOn;
            toggle(s, "slotDisplay", displayOn);
            if (displayOn)
                redrawn();
            else
                pictureHeights = s.model().z();   // the picture freezes as it is
            checkPicture();
            break;
        case 3: {
            const bool on = !twinDriver->burnOn();
            toggle(s, "slotBurn", on);
            twinDriver->setBurn(on);
            if (!on)
                redrawn();
            checkPicture();
            break;
        }
        case 4:
            if (draw(0, 9) == 0) {
                QVERIFY(QMetaObject::invokeMethod(&s, "slotStartAgain", Qt::DirectConnection));
                twinDriver->reinitialise();
                refilled();
                checkPicture();
            }
            break;
        default:
            // Presses anywhere, often on the lattice, sometimes outside it.
            press(QPoint(draw(-20, 820), draw(-20, 620)));
            break;
        }
    }

    // Clicks every site below 3 up to 3, as a user of "sprinkle" can, so
    // that the next grain sets off the largest avalanches the lattice has.
    void fillWithClicks()
    {
        for (int site = 0; site < N; ++site) {
            while (sandpile->model().z()[site] < 3) {
                press(pointOf(site));
                step();
                if (QTest::currentTestFailed())
                    return;
            }
        }
    }

private slots:
    void cleanup()
    {
        ticker.reset();
        sandpile.reset();
    }

    void monkeyCannotBreakThePile()
    {
        const int seed = environmentNumber("SANDPILE_SOAK_SEED", 20261207);
        const int ticks = environmentNumber("SANDPILE_SOAK_TICKS", 1000000);
        replay = QStringLiteral("replay with SANDPILE_SOAK_SEED=%1 SANDPILE_SOAK_TICKS=%2").arg(seed).arg(ticks).toLatin1();
        qInfo("%s", replay.constData());
        monkey.seed(seed);

        start();
        for (int t = 0; t < ticks; ++t) {
            if (draw(0, 999) == 0)
                act();
            if (!QTest::currentTestFailed())
                step();
            if (QTest::currentTestFailed())
                return;
            if (t % 50000 == 0)
                checkPicture();
        }
        checkPicture();
        QVERIFY2(sandpile->model().z() == twin->z(), replay.constData());
        qInfo("%lld avalanches checked, %lld burning tests, %lld grains", avalanchesChecked, burnsRun,
              qint64(sandpile->model().grainsAdded()));
        QVERIFY(avalanchesChecked > 1000);
    }

    void fullPileTakesGrainsAtItsCentreAndCorners()
    {
        replay = "the full-pile scenario";
        start();
        choose(*sandpile, "slotRunningStyle", SandpileModel::Sprinkle);
        twinDriver->setRunningStyle(SandpileModel::Sprinkle);
        for (int site : {CENTRE, 0, L - 1, N - L, N - 1}) {
            fillWithClicks();
            press(pointOf(site));
            do
                step();
            while (sandpile->model().avalancheInProgress() && !QTest::currentTestFailed());
            if (QTest::currentTestFailed())
                return;
            if (site == CENTRE)
                QCOMPARE(sandpile->model().avalancheSize(), 562475);
            checkPicture();

            // The pile after the avalanche is recurrent: it burns entirely.
            toggle(*sandpile, "slotBurn", true);
            twinDriver->setBurn(true);
            step();
            for (int i = 0; i < N; ++i)
                QVERIFY(sandpile->model().isBurnt(i));
            checkPicture();
            toggle(*sandpile, "slotBurn", false);
            twinDriver->setBurn(false);
            redrawn();
            checkPicture();
        }
    }
};

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
