#pragma once

// Helpers for tests of the lattice widget. They use only what a user or a
// window has: the public slots, input events, grabs of the widget, and the
// pile it shows, read through model().

#include "sandpile/sandpile.h"
#include "support/modeltest.h"

#include <QLCDNumber>
#include <QMetaMethod>
#include <QMetaObject>
#include <QPixmap>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

// The widget's geometry as a user sees it, checked against its constants.
namespace WidgetGeometry {
constexpr int LATTICE_X = 200;   // the picture's left edge in the widget
constexpr int CELL = 4;
constexpr int L = Sandpile::SIDE;
constexpr int N = L * L;
static_assert(Sandpile::LATTICE_ORIGIN == QPoint(LATTICE_X, 0));
static_assert(LatticeImage::CELL == CELL);

// The picture in widget coordinates.
inline QRect picture() { return QRect(LATTICE_X, 0, L * CELL, L * CELL); }
inline QRect siteSquare(int site)
{
    return QRect(LATTICE_X + site % L * CELL, site / L * CELL, CELL, CELL);
}
// The centre of a site's square in widget coordinates.
inline QPoint pointOf(int site) { return siteSquare(site).center(); }
// The site under a point of the widget, or -1 off the picture.
inline int siteAt(QPoint at)
{
    return picture().contains(at) ? at.y() / CELL * L + (at.x() - LATTICE_X) / CELL : -1;
}
constexpr int CENTRE = (L / 2) * L + L / 2;
} // namespace WidgetGeometry

// A clock for the widget that moves a whole second on at every reading, so
// that every tick ends its slice with a frame due: each run of the clock's
// slot is exactly one tick, and presents.
struct SteppingClock
{
    qint64 now = 0;
    qint64 step = 1'000'000'000;
    qint64 operator()() { return now += step; }
};

// A lattice widget as a fresh program builds it, placed at 800 x 600. It
// runs one tick, and presents, each time tick() is called.
inline std::unique_ptr<Sandpile> freshSandpile()
{
    auto sandpile = std::make_unique<Sandpile>(nullptr, "sandpile");
    sandpile->resize(800, 600);
    sandpile->setClock(SteppingClock{});
    return sandpile;
}

// One run of the clock's slot, as the timer calls it.
inline void tick(Sandpile &s)
{
    QVERIFY(QMetaObject::invokeMethod(&s, "sprinkle", Qt::DirectConnection));
}

// The slot that redraws the whole lattice at once.
inline void redraw(Sandpile &s)
{
    QVERIFY(QMetaObject::invokeMethod(&s, "update", Qt::DirectConnection));
}

inline void choose(Sandpile &s, const char *slot, int value)
{
    QVERIFY(QMetaObject::invokeMethod(&s, slot, Qt::DirectConnection, Q_ARG(int, value)));
}
inline void toggle(Sandpile &s, const char *slot, bool on)
{
    QVERIFY(QMetaObject::invokeMethod(&s, slot, Qt::DirectConnection, Q_ARG(bool, on)));
}

inline void pressAt(Sandpile &s, QPoint at)
{
    QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, at);
}

// Ticks through the meta-object system with the slot looked up once, for
// runs of many thousands of ticks.
class Ticker
{
public:
    explicit Ticker(Sandpile &s)
        : sandpile(s)
        , slot(s.metaObject()->method(s.metaObject()->indexOfSlot("sprinkle()")))
    {
    }
    bool operator()() { return slot.invoke(&sandpile, Qt::DirectConnection); }

private:
    Sandpile &sandpile;
    QMetaMethod slot;
};

// Runs ticks until the avalanche in progress has ended; returns the ticks taken.
inline int tickUntilAvalancheEnds(Sandpile &s)
{
    int ticks = 0;
    while (s.model().avalancheInProgress()) {
        tick(s);
        ++ticks;
    }
    return ticks;
}

// The widget as it paints itself, in widget pixels.
inline QImage screenOf(QWidget &w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The colour a site's square shows, and whether all its 16 pixels agree.
inline QColor squareColour(const QImage &screen, int site)
{
    const QRect square = WidgetGeometry::siteSquare(site);
    const QRgb first = screen.pixel(square.topLeft());
    for (int y = square.top(); y <= square.bottom(); ++y)
        for (int x = square.left(); x <= square.right(); ++x)
            if (screen.pixel(x, y) != first)
                return QColor();   // invalid: a square of mixed colours
    return QColor(first);
}

inline QColor colourOfHeight(int height)
{
    const QColor colours[] = {Qt::black, Qt::darkGray, Qt::lightGray, Qt::white, Qt::red};
    return colours[std::clamp(height, 0, 4)];
}

// The site whose square shows a colour other than the one its height calls
// for, or -1 when the picture agrees with the heights everywhere.
inline int firstSiteNotShowingItsHeight(const QImage &screen, const std::vector<int> &heights)
{
    for (int i = 0; i < WidgetGeometry::N; ++i) {
        const QRgb expected = colourOfHeight(heights[i]).rgb();
        const QRect square = WidgetGeometry::siteSquare(i);
        if (screen.pixel(square.topLeft()) != expected || screen.pixel(square.bottomRight()) != expected)
            return i;
    }
    return -1;
}

inline bool showsItsPile(Sandpile &s)
{
    return firstSiteNotShowingItsHeight(screenOf(s), s.model().z()) == -1;
}

// The site whose square is yellow although the last burning test did not
// burn it, or the other way round; -1 when yellow marks exactly the burnt sites.
inline int firstSiteMisshowingTheBurn(const QImage &screen, const SandpileModel &pile)
{
    const QRgb yellow = QColor(Qt::yellow).rgb();
    for (int i = 0; i < WidgetGeometry::N; ++i) {
        const QRect square = WidgetGeometry::siteSquare(i);
        const bool shownBurnt = screen.pixel(square.topLeft()) == yellow && screen.pixel(square.bottomRight()) == yellow;
        if (shownBurnt != pile.isBurnt(i))
            return i;
    }
    return -1;
}

// The four read-outs, top to bottom: grains added, average height, s, largest avalanche.
inline const char *const READOUTS[] = {"grainsLCD", "slopeLCD", "sLCD", "largestLCD"};

// The average height of a pile of the window's lattice.
inline double averageHeight(const std::vector<int> &z)
{
    long long sum = 0;
    for (int h : z)
        sum += h;
    return sum / double(WidgetGeometry::N);
}

inline QLCDNumber *readout(const Sandpile &s, const char *name)
{
    return s.findChild<QLCDNumber *>(QString::fromLatin1(name));
}

// The number a read-out shows (0 when it is blank).
inline double lcdValue(const Sandpile &s, const char *name)
{
    return readout(s, name)->value();
}

// Whether a read-out shows nothing at all: every pixel inside its frame alike.
inline bool isBlank(QLCDNumber &lcd)
{
    const QImage image = lcd.grab(lcd.contentsRect()).toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0))
                return false;
    return true;
}
inline bool lcdIsBlank(const Sandpile &s, const char *name)
{
    return isBlank(*readout(s, name));
}
