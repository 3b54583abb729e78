#pragma once

#include "sandpile/lattice.h"
#include "sandpile/picture.h"
#include "sandpile/random.h"
#include "sandpile/readout.h"
#include "sandpile/sandpile.h"

#include <QImage>
#include <QMetaObject>
#include <QPixmap>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

// Read access to the lattice widget's state, and the few ways tests set up
// a pile that a user would need many clicks to build.
struct SandpileProbe
{
    static int height(const Sandpile &s, int site) { return s.z[site]; }
    static std::vector<int> heights(const Sandpile &s) { return {s.z.get(), s.z.get() + Lattice::N}; }
    static int frontCount(const Sandpile &s) { return s.frontCount; }
    static std::vector<int> front(const Sandpile &s) { return {s.front.get(), s.front.get() + s.frontCount}; }
    static qint64 grainsAdded(const Sandpile &s) { return s.grainsAdded; }
    static int avalancheSize(const Sandpile &s) { return s.avalancheSize; }
    static int largestAvalanche(const Sandpile &s) { return s.largestAvalanche; }
    static int selectedSite(const Sandpile &s) { return s.selectedSite; }
    static int runningStyle(const Sandpile &s) { return s.runningStyle; }
    static int speed(const Sandpile &s) { return s.speed; }
    static bool displayOn(const Sandpile &s) { return s.displayOn; }
    static bool burnOn(const Sandpile &s) { return s.burnOn; }
    static bool burnDone(const Sandpile &s) { return s.burnDone; }
    static Sandpile::BurnRecord lastBurn(const Sandpile &s) { return s.lastBurn; }

    // Sets every height without painting, as if the pile had been built grain by grain.
    static void setHeights(Sandpile &s, const std::function<int(int site)> &heightOf)
    {
        for (int i = 0; i < Lattice::N; ++i)
            s.z[i] = heightOf(i);
    }
    static void setHeight(Sandpile &s, int site, int height) { s.z[site] = height; }
    // Operations run outside a tick present their frame as a tick would.
    static void paintBurnt(Sandpile &s, int site)
    {
        s.paintCell(site, Picture::Burnt);
        s.presentChanges();
    }
    static void setGrainsAdded(Sandpile &s, qint64 grains) { s.grainsAdded = grains; }
    static void countGrain(Sandpile &s) { s.countGrain(); }
    static void sweepOnly(Sandpile &s) { s.relax(); }
    static void relax(Sandpile &s)
    {
        s.relax();
        s.presentChanges();
    }
    // Lists sites as the front of an avalanche in progress.
    static void setFront(Sandpile &s, const std::vector<int> &sites)
    {
        std::copy(sites.begin(), sites.end(), s.front.get());
        s.frontCount = int(sites.size());
    }
    // Starts an avalanche at a site, as a drop does when the site reaches 4.
    static void startAvalanche(Sandpile &s, int site) { s.startAvalanche(site); }
    static std::vector<int> touched(const Sandpile &s, int count) { return {s.touched.get(), s.touched.get() + count}; }
    static void presentChanges(Sandpile &s) { s.presentChanges(); }
    static void setFrameInterval(Sandpile &s, int ms) { s.frameInterval = ms; }
    static int frameInterval(const Sandpile &s) { return s.frameInterval; }
};

// One tick of the idle timer, by the slot's name as the timer calls it.
inline void tick(Sandpile &s)
{
    QMetaObject::invokeMethod(&s, "sprinkle", Qt::DirectConnection);
}

// The slot that redraws the whole lattice at once.
inline void redraw(Sandpile &s)
{
    QMetaObject::invokeMethod(&s, "update", Qt::DirectConnection);
}

// A lattice widget as a fresh program builds it: the random source from
// its start, placed at 800 x 600. Unless paced, it presents a frame after
// every tick, so that what it shows can be checked tick by tick.
inline std::unique_ptr<Sandpile> freshSandpile(bool paced = false)
{
    setRandomSeed(1);
    auto sandpile = std::make_unique<Sandpile>(nullptr, "sandpile");
    sandpile->resize(800, 600);
    if (!paced)
        SandpileProbe::setFrameInterval(*sandpile, 0);
    return sandpile;
}

// The widget as it paints itself, in widget pixels.
inline QImage screenOf(QWidget &w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The colour a site's square shows, and whether all its 16 pixels agree.
inline QColor squareColour(const QImage &screen, int site)
{
    const QRect square = Picture::siteSquare(site);
    const QRgb first = screen.pixel(square.topLeft());
    for (int y = square.top(); y <= square.bottom(); ++y)
        for (int x = square.left(); x <= square.right(); ++x)
            if (screen.pixel(x, y) != first)
                return QColor();   // invalid: a square of mixed colours
    return QColor(first);
}

// The site whose square shows a colour other than the one its height calls
// for, or -1 when the picture agrees with the heights everywhere.
inline int firstSiteNotShowingItsHeight(const QImage &screen, const std::vector<int> &heights)
{
    const QColor colours[] = {Qt::black, Qt::darkGray, Qt::lightGray, Qt::white, Qt::red};
    for (int i = 0; i < Lattice::N; ++i) {
        const QColor expected = colours[std::clamp(heights[i], 0, 4)];
        if (screen.pixel(Picture::siteSquare(i).topLeft()) != expected.rgb()
            || screen.pixel(Picture::siteSquare(i).bottomRight()) != expected.rgb())
            return i;
    }
    return -1;
}

inline double lcdValue(const Sandpile &s, const char *name)
{
    return s.findChild<QLCDNumber *>(QString::fromLatin1(name))->value();
}

// What a read-out shows: its digits, or "" when it is blank.
inline QString lcdText(const Sandpile &s, const char *name)
{
    return static_cast<Readout *>(s.findChild<QLCDNumber *>(QString::fromLatin1(name)))->shownText();
}

// Ticks through the meta-object system, with the slot looked up once: for
// runs of millions of ticks.
class Ticker
{
public:
    explicit Ticker(Sandpile &s)
        : sandpile(s)
        , slot(s.metaObject()->method(s.metaObject()->indexOfSlot("sprinkle()")))
    {
    }
    void operator()() { slot.invoke(&sandpile, Qt::DirectConnection); }

private:
    Sandpile &sandpile;
    QMetaMethod slot;
};

// Runs ticks until the avalanche in progress has ended; returns the ticks taken.
inline int tickUntilAvalancheEnds(Sandpile &s)
{
    int ticks = 0;
    while (SandpileProbe::frontCount(s) > 0) {
        tick(s);
        ++ticks;
    }
    return ticks;
}

inline void choose(Sandpile &s, const char *slot, int value)
{
    QMetaObject::invokeMethod(&s, slot, Qt::DirectConnection, Q_ARG(int, value));
}
inline void toggle(Sandpile &s, const char *slot, bool on)
{
    QMetaObject::invokeMethod(&s, slot, Qt::DirectConnection, Q_ARG(bool, on));
}

inline void pressAt(Sandpile &s, QPoint at)
{
    QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, at);
}

// The centre of a site's square in widget coordinates.
inline QPoint pointOf(int site)
{
    return Picture::siteSquare(site).center();
}
