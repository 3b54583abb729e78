#include "engine/multiscaleguess.h"
#include "engine/pilebuilder.h"
#include "engine/sandpilemodel.h"
#include "support/reference.h"

#include <QtTest>

#include <fstream>
#include <functional>
#include <random>
#include <sys/resource.h>

// The big piles against slow routes that need no guess: the window's
// engine, a pile toppled one site at a time, and the identity's definition.
class BigPilesTest : public QObject
{
    Q_OBJECT

    static std::vector<std::int64_t> wide(const std::vector<std::uint8_t> &heights)
    {
        return {heights.begin(), heights.end()};
    }

    // The pile seen under each of the square's eight symmetries.
    static void verifySymmetric(const StablePile &pile)
    {
        const int L = pile.width;
        QCOMPARE(pile.height, L);
        for (int y = 0; y < L; ++y)
            for (int x = 0; x < L; ++x) {
                const int z = pile.heights[y * L + x];
                for (const auto &[sx, sy] : {std::pair(L - 1 - x, y), std::pair(x, L - 1 - y), std::pair(y, x)})
                    if (pile.heights[sy * L + sx] != z)
                        QFAIL(qPrintable(QString("not symmetric at %1, %2").arg(x).arg(y)));
            }
    }

private slots:
    void centrePileIsTheWindowsPileOfGrainsDroppedOnItsCentre()
    {
        // One grain at a time on the centre of the window's empty lattice,
        // for as long as no grain leaves it: every N up to 256, then a
        // sample, and the last N before the first loss.
        const int side = Lattice::WINDOW_SIDE;
        SandpileModel model(side);
        model.reinitialise(SandpileModel::Fractalsand0);
        SandpileObserver none;
        for (std::int64_t grains = 1;; ++grains) {
            model.selectSite(model.lattice().centre());   // each drop spends the selection
            model.dropAtSelectedSite(none);
            while (model.avalancheInProgress())
                model.relax();
            const bool lost = model.totalHeight() != grains;
            if (!lost && grains > 256 && grains % 1499 != 0)
                continue;
            const std::int64_t n = lost ? grains - 1 : grains;
            const StablePile pile = PileBuilder::centre(std::uint64_t(n), {});
            if (lost) {
                QVERIFY2(n > 20000, "the window's lattice holds thousands of grains");
                QCOMPARE(pile.width, side);   // the last pile it held reached its edge
            }
            QCOMPARE(pile.grains, n);
            QCOMPARE(pile.grainsLost, 0);
            const int offset = (side - pile.width) / 2;
            if (!lost) {
                // Compared in the window's lattice; the last pile is
                // compared below, against the model before this grain.
                for (int y = 0; y < side; ++y)
                    for (int x = 0; x < side; ++x) {
                        const int px = x - offset, py = y - offset;
                        const bool inside = px >= 0 && py >= 0 && px < pile.width && py < pile.width;
                        if (model.z()[y * side + x] != (inside ? pile.heights[py * pile.width + px] : 0))
                            QFAIL(qPrintable(QString("%1 grains differ at %2, %3").arg(n).arg(x).arg(y)));
                    }
            }
            if (lost)
                break;
        }
    }

    void centrePileMatchesOneSiteAtATimeAndItsExactIdentities()
    {
        for (const std::uint64_t grains : {5ull, 4097ull, 12345ull, 1ull << 16}) {
            PileBuilder::Settings settings;
            settings.odometer = true;
            const StablePile pile = PileBuilder::centre(grains, settings);
            const int L = pile.width, c = L / 2;
            std::vector<int> start(L * L, 0);
            start[c * L + c] = int(grains);
            ReferencePile reference(L, start);   // one toppling of one site at a time
            QCOMPARE(reference.stabilise(), pile.topplings);
            QCOMPARE(reference.lost, 0);
            QVERIFY(std::equal(reference.z.begin(), reference.z.end(), pile.heights.begin()));
            verifySymmetric(pile);
            // Lap u = s - s0 at every site, and Lap |x|^2 = 4.
            std::int64_t moment = 0;
            for (int y = 0; y < L; ++y)
                for (int x = 0; x < L; ++x) {
                    const auto u = [&](int i, int j) {
                        return i < 0 || j < 0 || i >= L || j >= L ? 0 : pile.odometer[j * L + i];
                    };
                    const std::int64_t laplacian = u(x - 1, y) + u(x + 1, y) + u(x, y - 1) + u(x, y + 1) - 4 * u(x, y);
                    QCOMPARE(laplacian, pile.heights[y * L + x] - start[y * L + x]);
                    moment += pile.heights[y * L + x] * std::int64_t((x - c) * (x - c) + (y - c) * (y - c));
                }
            QCOMPARE(4 * pile.topplings, moment);
            QCOMPARE(pile.centreTopplings, pile.odometer[c * L + c]);
            QCOMPARE(pile.sitesOfHeight[0] + pile.sitesOfHeight[1] + pile.sitesOfHeight[2] + pile.sitesOfHeight[3],
                     std::int64_t(L) * L);
        }
    }

    void identityIsTheGroupsIdentityForEverySmallSide()
    {
        for (int L = 1; L <= 64; ++L) {
            const StablePile e = PileBuilder::identity(L, {});
            QVERIFY(e.recurrent());
            verifySymmetric(e);
            std::vector<std::int64_t> twice = wide(e.heights), threes(std::size_t(L) * L, 3);
            for (std::size_t i = 0; i < twice.size(); ++i) {
                twice[i] *= 2;
                threes[i] += e.heights[i];
            }
            QCOMPARE(PileBuilder::stabilise(L, L, twice, {}).heights, e.heights);   // e + e = e
            QCOMPARE(PileBuilder::stabilise(L, L, threes, {}).heights,
                     std::vector<std::uint8_t>(std::size_t(L) * L, 3));   // 3 + e = 3
            // The slow route: (6 - (6)°)°.
            const StablePile six = PileBuilder::stabilise(L, L, std::vector<std::int64_t>(std::size_t(L) * L, 6), {});
            std::vector<std::int64_t> difference(std::size_t(L) * L);
            for (std::size_t i = 0; i < difference.size(); ++i)
                difference[i] = 6 - six.heights[i];
            const StablePile slow = PileBuilder::stabilise(L, L, difference, {});
            QCOMPARE(slow.grains, e.grains);
            QCOMPARE(slow.heights, e.heights);
        }
    }

    void anyPileKeepsItsGrainsAndItsOdometerExplainsIt()
    {
        std::mt19937 random(7);
        for (const auto &[width, height] : {std::pair(1, 1), std::pair(1, 9), std::pair(37, 23), std::pair(64, 64)}) {
            std::vector<std::int64_t> start(std::size_t(width) * height);
            for (std::int64_t &z : start)
                z = random() % 40;
            PileBuilder::Settings settings;
            settings.odometer = true;
            const StablePile pile = PileBuilder::stabilise(width, height, start, settings);
            std::int64_t lostAcrossEdge = 0, total = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const auto u = [&](int i, int j) {
                        return i < 0 || j < 0 || i >= width || j >= height ? 0 : pile.odometer[j * width + i];
                    };
                    QCOMPARE(u(x - 1, y) + u(x + 1, y) + u(x, y - 1) + u(x, y + 1) - 4 * u(x, y),
                             pile.heights[y * width + x] - start[y * width + x]);
                    lostAcrossEdge += u(x, y) * ((x == 0) + (y == 0) + (x == width - 1) + (y == height - 1));
                    total += start[y * width + x];
                }
            QCOMPARE(pile.grains + pile.grainsLost, total);
            QCOMPARE(pile.grainsLost, lostAcrossEdge);
        }
    }

    void resultsAreTheSameOnAnyThreadsAndStopsWhenAsked()
    {
        PileBuilder::Settings one, two;
        two.threads = 2;
        QCOMPARE(PileBuilder::centre(100000, one).heights, PileBuilder::centre(100000, two).heights);
        QCOMPARE(PileBuilder::identity(301, one).heights, PileBuilder::identity(301, two).heights);
        PileBuilder::Settings stopped;
        stopped.stop = [] { return true; };
        QVERIFY_THROWS_EXCEPTION(LeastAction::Stopped, PileBuilder::centre(1 << 20, stopped));
    }

    void anyGuessEndsInTheReferencePile_data()
    {
        QTest::addColumn<int>("guess");
        QTest::newRow("none") << 0;
        QTest::newRow("far too high everywhere") << 1;
        QTest::newRow("far too high on one site") << 2;
        QTest::newRow("random") << 3;
        QTest::newRow("too low by half") << 4;
    }

    // The certificate does not lean on the guess: from any guess the
    // relaxation ends in the one stable pile, with the least odometer.
    void anyGuessEndsInTheReferencePile()
    {
        QFETCH(int, guess);
        const int L = 41;
        std::mt19937 random(11);
        std::vector<std::vector<int>> piles(3, std::vector<int>(std::size_t(L) * L, 0));
        piles[0][std::size_t(L / 2) * L + L / 2] = 20000;   // one site's pile
        for (int &z : piles[1])
            z = int(random() % 10);
        piles[2].assign(piles[2].size(), 6);
        for (const std::vector<int> &start : piles) {
            ReferencePile reference(L, start);
            const long long topplings = reference.stabilise();
            LeastAction pile{FoldedLattice(L, L)};
            for (int y = 0; y < L; ++y)
                for (int x = 0; x < L; ++x) {
                    pile.setHeight(x, y, start[std::size_t(y) * L + x]);
                    const std::int64_t far = std::int64_t(1) << 40;
                    const std::int64_t guessed[] = {0, 100000, x == 3 && y == 5 ? far : 0, std::int64_t(random() % 5000),
                                                    0};
                    pile.setOdometer(x, y, guessed[guess]);
                }
            if (guess == 4) {   // half the least odometer, from a first solve
                LeastAction first{FoldedLattice(L, L)};
                for (int y = 0; y < L; ++y)
                    for (int x = 0; x < L; ++x)
                        first.setHeight(x, y, start[std::size_t(y) * L + x]);
                first.applyOdometer();
                first.stabilise();
                for (int y = 0; y < L; ++y)
                    for (int x = 0; x < L; ++x)
                        pile.setOdometer(x, y, first.odometer(x, y) / 2);
            }
            pile.applyOdometer();
            pile.stabilise({}, 2);
            long long total = 0;
            for (int y = 0; y < L; ++y)
                for (int x = 0; x < L; ++x) {
                    QCOMPARE(pile.height(x, y), std::int64_t(reference.z[std::size_t(y) * L + x]));
                    const auto u = [&](int i, int j) { return i < 0 || j < 0 || i >= L || j >= L ? 0 : pile.odometer(i, j); };
                    QVERIFY(u(x, y) >= 0);
                    QCOMPARE(u(x - 1, y) + u(x + 1, y) + u(x, y - 1) + u(x, y + 1) - 4 * u(x, y),
                             pile.height(x, y) - start[std::size_t(y) * L + x]);
                    total += u(x, y);
                }
            QCOMPARE(total, topplings);
        }
    }

    // A pile made to have a known odometer v past 32 bits: s = 3 - Lap v,
    // whose least odometer is v (any less would leave a site above 3).
    // Wherever its counts outgrow 32 bits, the pile widens and ends all 3s.
    void countsPast32BitsWidenThePileAndChangeNothing()
    {
        const int W = 16, H = 130;   // two bands of rows: two threads
        const auto v = [&](int x, int y) -> std::int64_t {
            return x < 0 || y < 0 || x >= W || y >= H ? 0 : std::int64_t(6953) * (x + 1) * (W - x) * (y + 1) * (H - y);
        };
        const std::int64_t narrowest = std::numeric_limits<std::int32_t>::max();
        QVERIFY(v(W / 2, H / 2) > narrowest);
        // The pile solved from a guess of its odometer, and whether it was wide once laid.
        const auto solve = [&](const std::function<std::int64_t(std::int64_t)> &guess, bool wideFromTheStart) {
            auto pile = std::make_unique<LeastAction>(FoldedLattice(W, H));
            if (wideFromTheStart)
                pile->widen();
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    pile->setHeight(x, y, 3 - (v(x - 1, y) + v(x + 1, y) + v(x, y - 1) + v(x, y + 1) - 4 * v(x, y)));
                    pile->setOdometer(x, y, guess(v(x, y)));
                }
            pile->applyOdometer();
            const bool wideWhenLaid = pile->isWide();
            pile->stabilise({}, 2);
            return std::pair(std::move(pile), wideWhenLaid);
        };
        const auto belowAndNarrow = [&](std::int64_t u) { return std::max<std::int64_t>(0, std::min(u, narrowest) - 1); };
        const auto [reached, wasWide] = solve(belowAndNarrow, false);
        QVERIFY(!wasWide);   // it widened as it toppled
        const auto [held, heldWide] = solve(belowAndNarrow, true);
        const auto [set, setWide] = solve([](std::int64_t u) { return u; }, false);
        QVERIFY(heldWide && setWide);
        for (const auto &pile : {reached.get(), held.get(), set.get()}) {
            QVERIFY(pile->isWide());
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    QCOMPARE(pile->height(x, y), std::int64_t(3));
                    QCOMPARE(pile->odometer(x, y), v(x, y));
                }
        }
    }

    // Heights past 32 bits, in a column with the sink on both sides: reached
    // as grains arrive, in a band (row 63 from row 64) or from the next one
    // (row 65), or laid by a guess. On one thread the bands relax in turn:
    // with row 63 full the first band outgrows and the second is left with
    // its grains unposted; with row 63 empty the second outgrows as they
    // arrive. Each comes out as the pile held wide from the start.
    void heightsPast32BitsWidenThePileAndChangeNothing_data()
    {
        QTest::addColumn<bool>("firstBandOutgrows");
        QTest::newRow("in the band, and waiting for the next") << true;
        QTest::newRow("as they arrive from the band before") << false;
    }

    void heightsPast32BitsWidenThePileAndChangeNothing()
    {
        QFETCH(bool, firstBandOutgrows);
        const int H = 130;   // rows 0-64 in one band, 65-129 in the other
        const std::int64_t narrowest = std::numeric_limits<std::int32_t>::max();
        const std::int64_t start[][2] = {{63, firstBandOutgrows ? narrowest : 0}, {64, std::int64_t(1) << 30},
                                         {65, narrowest}, {100, narrowest}, {101, std::int64_t(1) << 30}};
        const auto solve = [&](const std::function<void(LeastAction &)> &prepare, int threads) {
            auto pile = std::make_unique<LeastAction>(FoldedLattice(1, H));
            for (const auto &[y, grains] : start)   // rows 64 and 101 are relaxed first
                pile->setHeight(0, int(y), grains);
            prepare(*pile);
            pile->applyOdometer();
            pile->stabilise({}, threads);
            return pile;
        };
        const auto held = solve([](LeastAction &pile) { pile.widen(); }, 2);
        const auto reached = solve([](LeastAction &) {}, 2);
        const auto reachedOnOne = solve([](LeastAction &) {}, 1);
        const auto laid = solve([](LeastAction &pile) { pile.setOdometer(0, 10, (std::int64_t(1) << 29) + 1); }, 2);
        const auto u = [&](int y) { return y < 0 || y >= H ? 0 : held->odometer(0, y); };
        std::int64_t grains = 0;
        for (int y = 0; y < H; ++y) {
            const std::int64_t z = held->height(0, y);
            QVERIFY(z >= 0 && z <= 3);
            grains += z - u(y - 1) - u(y + 1) + 4 * u(y);   // what it started with
            for (const auto &other : {reached.get(), reachedOnOne.get(), laid.get()}) {
                QVERIFY(other->isWide());
                QCOMPARE(other->height(0, y), z);
                QCOMPARE(other->odometer(0, y), u(y));
            }
        }
        std::int64_t started = 0;
        for (const auto &[y, grains] : start)
            started += grains;
        QCOMPARE(grains, started);
    }

    // A guess laid on many threads that a narrow pile cannot hold widens it.
    void aGuessPast32BitsIsLaidWide()
    {
        const FoldedLattice lattice(9, 9);
        LeastAction pile(lattice);
        const MultiscaleGuess::Field field(lattice);
        ThreadTeam team(2);
        MultiscaleGuess(field, lattice, 1, 1, 1).lay(pile, team, [](int x, int y, double) {
            return x == 4 && y == 7 ? 3e9 : 5.5;
        });
        QVERIFY(pile.isWide());
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x)
                QCOMPARE(pile.odometer(x, y), x == 4 && y == 7 ? std::int64_t(3000000000) : 5);
    }

    // A guess's error, as the resolutions report it: above counts sites that
    // never toppled, where a guess above 0 is an overshoot too.
    void aGuessesErrorCountsTheSitesThatNeverToppled()
    {
        const FoldedLattice lattice(21, 21);
        LeastAction pile(lattice);
        pile.setHeight(10, 10, 300);
        pile.stabilise();
        QCOMPARE(pile.odometer(0, 0), 0);
        const MultiscaleGuess::Field field(lattice);
        const MultiscaleGuess reading(field, lattice, 1, 1, 1);
        const auto error = reading.error(pile, [&](int x, int y, double) {
            const std::int64_t u = pile.odometer(x, y);
            return double(u == 0 ? 7 : u + (x % 2 ? 3 : -2));
        });
        QCOMPARE(error.above, 7.0);
        QCOMPARE(error.below, 2.0);
        QVERIFY(error.mean > 2 && error.mean < 3);
    }

    // Piles large enough to be guessed from their 2 x 2 block means, against
    // the one-site-at-a-time relaxation, on one thread and on three: piles with
    // mirror lines (stored folded, through a line of sites or between two)
    // and piles without.
    void largePilesFromTheirBlockMeansAreTheReferencePiles()
    {
        std::mt19937 random(5);
        enum Kind { AllSix, Random, Mirrored };
        for (const auto &[L, kind] : {std::pair(151, AllSix), std::pair(150, AllSix), std::pair(200, Random),
                                      std::pair(149, Mirrored), std::pair(150, Mirrored)}) {
            std::vector<int> start(std::size_t(L) * L);
            for (int y = 0; y < L; ++y)
                for (int x = 0; x < L; ++x)
                    start[std::size_t(y) * L + x] = kind == AllSix ? 6 : int(random() % 8);
            if (kind == Mirrored)
                for (int y = 0; y < L; ++y)
                    for (int x = 0; x < L; ++x)
                        start[std::size_t(y) * L + x] = start[std::size_t(std::min(y, L - 1 - y)) * L + std::min(x, L - 1 - x)];
            ReferencePile reference(L, start);
            const long long topplings = reference.stabilise();
            for (const int threads : {1, 3}) {
                PileBuilder::Settings settings;
                settings.threads = threads;
                int resolutions = 0;
                settings.report = [&](const PileBuilder::Resolution &) { ++resolutions; };
                std::vector<std::pair<int, int>> told;
                settings.progress = [&](int done, int levels) { told.emplace_back(done, levels); };
                const StablePile pile = PileBuilder::stabilise(L, L, {start.begin(), start.end()}, settings);
                QCOMPARE(resolutions, 3);   // L, about L / 2 and L / 4 a side
                QCOMPARE(told, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
                QVERIFY(std::equal(reference.z.begin(), reference.z.end(), pile.heights.begin()));
                QCOMPARE(pile.topplings, topplings);
                QCOMPARE(pile.grainsLost, reference.lost);
            }
        }
    }

    // A ladder lays each guess below itself by its margin, reports how far
    // the guess lay before and after, and ends in the reference pile
    // however high the guess: an all-6 pile of side 20 from its own pile of
    // side 10, guessed 1000 topplings too high and laid 300 lower.
    void aLadderLaysItsGuessBelowByItsMarginAndEndsInTheReferencePile()
    {
        std::vector<ResolutionLadder::Resolution> reports;
        ResolutionLadder ladder(2, {}, {{}, [&](const ResolutionLadder::Resolution &r) { reports.push_back(r); }}, 2, 20);
        auto coarse = std::make_unique<LeastAction>(FoldedLattice(10, 10));
        auto fine = std::make_unique<LeastAction>(FoldedLattice(20, 20));
        for (LeastAction *pile : {coarse.get(), fine.get()})
            for (int y = 0; y < pile->lattice().height(); ++y)
                for (int x = 0; x < pile->lattice().width(); ++x)
                    pile->setHeight(x, y, 6);
        const ResolutionLadder::Solved below = ladder.solve(std::move(coarse));
        MultiscaleGuess::Field field(below.pile->lattice());
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x)
                field.at(x, y) = double(below.pile->odometer(x, y));
        const MultiscaleGuess upscaled(field, fine->lattice(), 2, 2, 4);
        const ResolutionLadder::Upscaled tooHigh{upscaled, [](int, int, double smooth) { return smooth + 1000; }};
        const ResolutionLadder::Solved solved = ladder.solve(std::move(fine), tooHigh, {300, 0});

        QCOMPARE(reports.size(), std::size_t(2));
        const ResolutionLadder::Resolution &finest = reports.back();
        QVERIFY(finest.plainError.above > 1000);
        QCOMPARE(finest.laidError.above, finest.plainError.above - 300);
        QVERIFY(finest.work.burningPasses > 1);   // it was too high, and was found out
        ReferencePile reference(20, std::vector<int>(400, 6));
        const long long topplings = reference.stabilise();
        long long odometer = 0;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) {
                QCOMPARE(solved.pile->height(x, y), std::int64_t(reference.z[std::size_t(y) * 20 + x]));
                odometer += solved.pile->odometer(x, y);
            }
        QCOMPARE(odometer, topplings);
    }

    // Piles taller than wide, in more bands than threads: each thread
    // relaxes several bands, which trade grains many times over, and the
    // pile comes out as the reference's, with the same odometer on any
    // number of threads: a random pile with a column of grains across the
    // bands, so that a band stops to post before it is stable, and a random
    // pile mirrored both ways, stored folded.
    void tallPilesInManyBandsAreTheReferencePiles()
    {
        std::mt19937 random(7);
        enum Kind { Column, Mirrored };
        for (const auto &[width, height, kind] : {std::tuple(60, 400, Column), std::tuple(60, 800, Mirrored)}) {
            std::vector<int> start(std::size_t(width) * height);
            for (int &grains : start)
                grains = int(random() % 6);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    int &grains = start[std::size_t(y) * width + x];
                    if (kind == Mirrored)
                        grains = start[std::size_t(std::min(y, height - 1 - y)) * width + std::min(x, width - 1 - x)];
                    if (kind == Column && x == width / 2 && y >= 40 && y < 100)
                        grains = 600;
                }
            ReferencePile reference(width, height, start);
            const long long topplings = reference.stabilise();
            std::vector<std::int64_t> odometer;
            for (const int threads : {1, 2, 4}) {
                PileBuilder::Settings settings;
                settings.threads = threads;
                settings.odometer = true;
                const StablePile pile = PileBuilder::stabilise(width, height, {start.begin(), start.end()}, settings);
                QCOMPARE(pile.threads, threads);
                QVERIFY(std::equal(reference.z.begin(), reference.z.end(), pile.heights.begin()));
                QCOMPARE(pile.topplings, topplings);
                QCOMPARE(pile.grainsLost, reference.lost);
                if (odometer.empty())
                    odometer = pile.odometer;
                QCOMPARE(pile.odometer, odometer);
            }
        }
    }

    // A stop at any moment, whichever task is running, ends the work with
    // Stopped, or lets it finish with the reference pile: no member waits
    // for ever on another that left.
    void aStopAtAnyMomentEndsTheWork()
    {
        const int width = 60, height = 400;
        std::vector<int> start(std::size_t(width) * height, 7);
        ReferencePile reference(width, height, start);
        reference.stabilise();
        for (int asks = 1; asks <= 12; ++asks) {
            PileBuilder::Settings settings;
            settings.threads = 3;
            int asked = 0;
            settings.stop = [&] { return ++asked >= asks; };
            try {
                const StablePile pile = PileBuilder::stabilise(width, height, {start.begin(), start.end()}, settings);
                QVERIFY(std::equal(reference.z.begin(), reference.z.end(), pile.heights.begin()));
            } catch (const LeastAction::Stopped &) {
                QCOMPARE(asked, asks);
            }
        }
    }

    // All the work in rows that another thread than the first relaxes: the
    // stop is still seen.
    void aStopIsSeenWhereverTheWorkLies()
    {
        const int side = 400;
        std::vector<std::int64_t> start(std::size_t(side) * side, 0);
        start[std::size_t(350) * side + side / 2] = std::int64_t(1) << 18;
        PileBuilder::Settings settings;
        settings.threads = 2;
        settings.stop = [] { return true; };
        QVERIFY_THROWS_EXCEPTION(LeastAction::Stopped, PileBuilder::stabilise(side, side, start, settings));
    }

    void faultsAreOneLineEach()
    {
        PileLimits::checkCentre(PileBuilder::MAX_CENTRE_GRAINS);
        QVERIFY_THROWS_EXCEPTION(PileLimits::Fault, PileLimits::checkCentre(PileBuilder::MAX_CENTRE_GRAINS + 1));
        PileLimits::checkIdentity(PileBuilder::MAX_SIDE);
        for (const std::int64_t side : {0ll, -1ll, PileBuilder::MAX_SIDE + 1ll})
            QVERIFY_THROWS_EXCEPTION(PileLimits::Fault, PileLimits::checkIdentity(side));
        const auto faultOf = [](const std::function<void()> &check) -> std::string {
            try {
                check();
            } catch (const PileLimits::Fault &fault) {
                return fault.what();
            }
            return {};
        };
        QCOMPARE(faultOf([] { PileLimits::checkPile(2, 1, {1, -3}); }), std::string("the height at row 0, column 1 is below 0: -3"));
        // Rows x columns, as NumPy gives a shape.
        QCOMPARE(faultOf([] { PileLimits::checkSides(5, 0); }), std::string("a pile of 0 x 5 sites is outside 1..32768 a side"));
        QVERIFY(!faultOf([] { PileLimits::checkPile(2, 2, {1, 2, 3}); }).empty());
        QVERIFY(!faultOf([] { PileLimits::checkPile(2, 1, {std::int64_t(1) << 62, 0}); }).empty());
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, PileBuilder::stabilise(1, 1, {-1}, {}));
        PileLimits::checkMemory(1);
        QVERIFY_THROWS_EXCEPTION(std::bad_alloc, PileLimits::checkMemory(std::size_t(1) << 60));
        // A fold through sites needs an odd side, one between sites an even one.
        QCOMPARE(FoldedLattice::folding(7, 8, Fold::ThroughSites, Fold::BetweenSites).wholeWidth(), 7);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, FoldedLattice::folding(8, 8, Fold::ThroughSites, Fold::Open));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, FoldedLattice::folding(8, 7, Fold::Open, Fold::BetweenSites));
    }

    // The least of the three limits: an address-space limit below what is
    // free is seen, and a pile beyond it refused by the builder itself.
    void memoryIsCheckedAgainstTheAddressSpaceLimit()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizers' shadow memory fills the address space");
#endif
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_AS, &old), 0);
        const std::size_t before = PileLimits::availableBytes();
        rlimit tight = old;
        std::ifstream status("/proc/self/status");
        std::string line;
        std::size_t mappedKiB = 0;
        while (std::getline(status, line))
            if (line.rfind("VmSize:", 0) == 0)
                mappedKiB = std::stoull(line.substr(7));
        tight.rlim_cur = mappedKiB * 1024 + (std::size_t(64) << 20);
        if (old.rlim_cur != RLIM_INFINITY && old.rlim_cur < tight.rlim_cur)
            QSKIP("the address space is limited already");
        QCOMPARE(setrlimit(RLIMIT_AS, &tight), 0);
        const std::size_t after = PileLimits::availableBytes();
        bool refused = false;
        try {
            PileBuilder::identity(8192, {});
        } catch (const PileLimits::OutOfMemory &error) {
            refused = std::string(error.what()).find("MB is available") != std::string::npos;
        }
        setrlimit(RLIMIT_AS, &old);
        QVERIFY(after <= std::size_t(64) << 20 && after > (std::size_t(32) << 20) && after <= before);
        QVERIFY(refused);
    }
};

QTEST_APPLESS_MAIN(BigPilesTest)
#include "tst_bigpiles.moc"
