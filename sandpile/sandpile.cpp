#include "sandpile.h"
#include "readout.h"

#include <QGroupBox>
#include <QTimer>

namespace {

constexpr int READOUT_BOX_X = 20;
constexpr int READOUT_BOX_WIDTH = Picture::LATTICE_X - 2 * READOUT_BOX_X;   // 160
constexpr int READOUT_BOX_HEIGHT = 100;
constexpr int READOUT_BOX_SPACING = 150;
constexpr QRect READOUT_IN_BOX(30, 30, 100, 50);

struct ReadoutLayout {
    const char *title;
    const char *boxName;
    const char *readoutName;
    int digits;
};

// Top to bottom along the left edge of the widget.
constexpr ReadoutLayout READOUTS[] = {
    {"No. grains added", "grains", "grainsLCD", 7},
    {"Average slope <z>", "average", "slopeLCD", 4},
    {"Avalanche size s", "avalanche", "sLCD", 6},
    {"Largest avalanche", "largest", "largestLCD", 6},
};

Readout *addReadout(QWidget *parent, int position)
{
    const ReadoutLayout &layout = READOUTS[position];
    auto *box = new QGroupBox(QString::fromLatin1(layout.title), parent);
    box->setObjectName(QString::fromLatin1(layout.boxName));
    box->setGeometry(READOUT_BOX_X, 15 + position * READOUT_BOX_SPACING, READOUT_BOX_WIDTH,
                     READOUT_BOX_HEIGHT);
    auto *readout = new Readout(layout.digits, box, layout.readoutName);
    readout->setGeometry(READOUT_IN_BOX);
    return readout;
}

} // namespace

Sandpile::Sandpile(QWidget *parent, const char *name)
    : QWidget(parent)
    , z(new int[Lattice::N])
    , front(new int[Lattice::N])
    , nextFront(new int[Lattice::N])
    , touched(new int[Lattice::MAX_RECORDED_PER_SWEEP])
{
    setObjectName(QString::fromLatin1(name));

    grainsLCD = addReadout(this, 0);
    slopeLCD = addReadout(this, 1);
    sLCD = addReadout(this, 2);
    largestLCD = addReadout(this, 3);

    reinitialise();

    // Runs the model whenever the event loop is idle, one step per tick.
    auto *timer = new QTimer(this);
    connect(timer, SIGNAL(timeout()), this, SLOT(sprinkle()));
    timer->start(0);
}

Sandpile::~Sandpile() = default;
