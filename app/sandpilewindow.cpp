#include "sandpilewindow.h"

#include "sandpile/colours.h"
#include "sandpile/sandpile.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The control column right of the lattice widget.
constexpr int COLUMN_X = 820;
constexpr int COLUMN_WIDTH = 160;
constexpr int BUTTON_BOX_HEIGHT = 55;
constexpr int CHOICE_BOX_HEIGHT = 70;
constexpr int CONTROL_SPACING = 10;
constexpr int FIRST_CONTROL_Y = 50;
constexpr QRect COMBO_IN_BOX(10, 25, COLUMN_WIDTH - 20, 30);

// Top edge of the n-th framed button, counting down the column.
constexpr int buttonBoxY(int n)
{
    return FIRST_CONTROL_Y + n * (BUTTON_BOX_HEIGHT + CONTROL_SPACING);
}

// Top edge of the n-th titled choice box, below the three buttons.
constexpr int choiceBoxY(int n)
{
    return buttonBoxY(3) + n * (CHOICE_BOX_HEIGHT + CONTROL_SPACING);
}

// "Quit" sits at the bottom, level with the lattice widget's lower edge.
constexpr int QUIT_BOX_Y = SandpileWindow::SANDPILE_GEOMETRY.bottom() + 1 - BUTTON_BOX_HEIGHT;

// The legend: a title, then one row per height colour.
constexpr int LEGEND_TITLE_Y = 440;
constexpr int LEGEND_FIRST_BASELINE = 480;
constexpr int LEGEND_ROW_SPACING = 20;
constexpr int LEGEND_TEXT_X = COLUMN_X + 30;
constexpr int SWATCH = 10;
const char *const LEGEND_TEXTS[] = {"Site with z = 0", "Site with z = 1", "Site with z = 2",
                                    "Site with z = 3", "Toppling site"};

// A frame holding one push button that fills it.
QPushButton *addButton(QWidget *window, int y, const char *frameName, const char *text,
                       const char *buttonName)
{
    auto *frame = new QGroupBox(window);
    frame->setObjectName(QString::fromLatin1(frameName));
    frame->move(COLUMN_X, y);
    frame->resize(COLUMN_WIDTH, BUTTON_BOX_HEIGHT);
    auto *button = new QPushButton(QString::fromLatin1(text), frame);
    button->setObjectName(QString::fromLatin1(buttonName));
    auto *layout = new QVBoxLayout(frame);
    layout->addWidget(button);
    return button;
}

// A titled box holding a read-only choice among items.
QComboBox *addChoice(QWidget *window, int y, const char *title, const char *boxName,
                     std::initializer_list<const char *> items)
{
    auto *box = new QGroupBox(QString::fromLatin1(title), window);
    box->setObjectName(QString::fromLatin1(boxName));
    box->move(COLUMN_X, y);
    box->resize(COLUMN_WIDTH, CHOICE_BOX_HEIGHT);
    auto *combo = new QComboBox(box);
    combo->setObjectName(QStringLiteral("read-only combobox"));
    combo->setEditable(false);
    combo->setGeometry(COMBO_IN_BOX);
    for (const char *item : items)
        combo->addItem(QString::fromLatin1(item));
    return combo;
}

} // namespace

SandpileWindow::SandpileWindow(QWidget *parent, const char *name)
    : QWidget(parent)
{
    setObjectName(QString::fromLatin1(name));

    auto *sandpile = new Sandpile(this, "sandpile");
    sandpile->move(SANDPILE_GEOMETRY.topLeft());
    sandpile->resize(SANDPILE_GEOMETRY.size());

    // The buttons start in the state the lattice widget starts in, before
    // they are connected, so that no slot is called while building.
    QPushButton *display = addButton(this, buttonBoxY(0), "display", "Display", "displayButton");
    display->setCheckable(true);
    display->setChecked(true);
    connect(display, SIGNAL(toggled( bool )), sandpile, SLOT(slotDisplay( bool )));

    QPushButton *startAgain = addButton(this, buttonBoxY(1), "startAgain", "Re-initialise",
                                        "startAgainButton");
    connect(startAgain, SIGNAL(clicked()), sandpile, SLOT(slotStartAgain()));

    QPushButton *burn = addButton(this, buttonBoxY(2), "burn", "Burn", "burnButton");
    burn->setCheckable(true);
    connect(burn, SIGNAL(toggled( bool )), sandpile, SLOT(slotBurn( bool )));

    QComboBox *mode = addChoice(this, choiceBoxY(0), "Mode", "mode",
                                {"run free", "sprinkle", "fractalsand 0", "fractalsand 1",
                                 "fractalsand 2"});
    connect(mode, SIGNAL(activated( int )), sandpile, SLOT(slotRunningStyle( int )));

    QComboBox *speed = addChoice(this, choiceBoxY(1), "Speed", "speed", {"fast", "slow", "pause"});
    connect(speed, SIGNAL(activated( int )), sandpile, SLOT(slotSpeed( int )));

    QPushButton *quit = addButton(this, QUIT_BOX_Y, "exit", "Quit", "exitButton");
    connect(quit, SIGNAL(clicked()), qApp, SLOT(quit()));
}

SandpileWindow::~SandpileWindow() = default;

// The legend of the site colours. Each swatch stands left of its text with
// its lower edge on the text's baseline.
void SandpileWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawText(COLUMN_X, LEGEND_TITLE_Y, QStringLiteral("System size L = %1").arg(Sandpile::SIDE));
    for (int row = 0; row < Colours::HEIGHT_COLOUR_COUNT; ++row)
        painter.drawText(LEGEND_TEXT_X, LEGEND_FIRST_BASELINE + row * LEGEND_ROW_SPACING,
                         QString::fromLatin1(LEGEND_TEXTS[row]));
    painter.setPen(Qt::NoPen);
    for (int row = 0; row < Colours::HEIGHT_COLOUR_COUNT; ++row) {
        painter.setBrush(Colours::height[row]);
        painter.drawRect(COLUMN_X, LEGEND_FIRST_BASELINE + row * LEGEND_ROW_SPACING - SWATCH, SWATCH,
                         SWATCH);
    }
}
