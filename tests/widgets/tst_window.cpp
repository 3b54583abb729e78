#include "app/sandpilewindow.h"
#include "support/sandpiletest.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

// The window: its widget tree, its controls and what they are connected to,
// its legend, and how the run ends.
class WindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SandpileWindow> window;

    Sandpile &sandpile() { return *window->findChild<Sandpile *>(QStringLiteral("sandpile")); }
    template <typename T> T *child(const char *name)
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no child named %s", name);
        return found;
    }
    QComboBox *combo(const char *boxName)
    {
        return child<QGroupBox>(boxName)->findChild<QComboBox *>(QStringLiteral("read-only combobox"));
    }

private slots:
    void init()
    {
        window = std::make_unique<SandpileWindow>();
        window->setGeometry(SandpileWindow::INITIAL_GEOMETRY);
        sandpile().setClock(SteppingClock{});
    }
    void cleanup() { window.reset(); }

    void childrenArePlacedAndNamed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        auto row = [](const char *name, const char *cls, const char *parent, QRect g, const char *text) {
            QTest::newRow(name) << name << cls << parent << g << text;
        };
        row("sandpile", "Sandpile", "", QRect(0, 50, 800, 600), "");
        row("display", "QGroupBox", "", QRect(820, 50, 160, 55), "");
        row("startAgain", "QGroupBox", "", QRect(820, 115, 160, 55), "");
        row("burn", "QGroupBox", "", QRect(820, 180, 160, 55), "");
        row("mode", "QGroupBox", "", QRect(820, 245, 160, 70), "Mode");
        row("speed", "QGroupBox", "", QRect(820, 325, 160, 70), "Speed");
        row("exit", "QGroupBox", "", QRect(820, 595, 160, 55), "");
        row("displayButton", "QPushButton", "display", QRect(), "Display");
        row("startAgainButton", "QPushButton", "startAgain", QRect(), "Re-initialise");
        row("burnButton", "QPushButton", "burn", QRect(), "Burn");
        row("exitButton", "QPushButton", "exit", QRect(), "Quit");
        row("grains", "QGroupBox", "sandpile", QRect(20, 15, 160, 100), "No. grains added");
        row("average", "QGroupBox", "sandpile", QRect(20, 165, 160, 100), "Average slope <z>");
        row("avalanche", "QGroupBox", "sandpile", QRect(20, 315, 160, 100), "Avalanche size s");
        row("largest", "QGroupBox", "sandpile", QRect(20, 465, 160, 100), "Largest avalanche");
        row("grainsLCD", "QLCDNumber", "grains", QRect(30, 30, 100, 50), "");
        row("slopeLCD", "QLCDNumber", "average", QRect(30, 30, 100, 50), "");
        row("sLCD", "QLCDNumber", "avalanche", QRect(30, 30, 100, 50), "");
        row("largestLCD", "QLCDNumber", "largest", QRect(30, 30, 100, 50), "");
    }
    void childrenArePlacedAndNamed()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, parentName);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        const QList<QWidget *> found = window->findChildren<QWidget *>(name);
        QCOMPARE(found.size(), 1);
        QWidget *w = found.first();
        QVERIFY(w->inherits(className.toLatin1()));
        QCOMPARE(w->parentWidget()->objectName(), parentName);
        if (parentName.isEmpty())
            QCOMPARE(w->parentWidget(), window.get());
        if (!geometry.isNull())
            QCOMPARE(w->geometry(), geometry);
        if (auto *box = qobject_cast<QGroupBox *>(w))
            QCOMPARE(box->title(), text);
        if (auto *button = qobject_cast<QPushButton *>(w)) {
            QCOMPARE(button->text(), text);
            // The framed button fills its frame, as a vertical group places it.
            QVERIFY(button->parentWidget()->rect().contains(button->geometry()));
            QVERIFY(button->width() > button->parentWidget()->width() / 2);
        }
        if (auto *lcd = qobject_cast<QLCDNumber *>(w))
            QCOMPARE(lcd->segmentStyle(), QLCDNumber::Filled);
    }

    void readoutsHaveTheirDigitCounts()
    {
        QCOMPARE(child<QLCDNumber>("grainsLCD")->digitCount(), 7);
        QCOMPARE(child<QLCDNumber>("slopeLCD")->digitCount(), 4);
        QCOMPARE(child<QLCDNumber>("sLCD")->digitCount(), 6);
        QCOMPARE(child<QLCDNumber>("largestLCD")->digitCount(), 6);
    }

    void controlsStartInTheWidgetsInitialState()
    {
        auto *display = child<QPushButton>("displayButton");
        auto *burn = child<QPushButton>("burnButton");
        QVERIFY(display->isCheckable() && display->isChecked());
        QVERIFY(burn->isCheckable() && !burn->isChecked());
        QVERIFY(!child<QPushButton>("startAgainButton")->isCheckable());
        QVERIFY(!child<QPushButton>("exitButton")->isCheckable());

        const QStringList styles{"run free", "sprinkle", "fractalsand 0", "fractalsand 1", "fractalsand 2"};
        const QStringList speeds{"fast", "slow", "pause"};
        for (auto [box, items] : {std::pair{"mode", styles}, std::pair{"speed", speeds}}) {
            QComboBox *c = combo(box);
            QVERIFY(c && !c->isEditable());
            QCOMPARE(c->geometry(), QRect(10, 25, 140, 30));
            QCOMPARE(c->currentIndex(), 0);
            QStringList texts;
            for (int i = 0; i < c->count(); ++i)
                texts << c->itemText(i);
            QCOMPARE(texts, items);
        }
        // The pile starts as the controls say: running free and fast, with
        // Burn up and the picture following every tick.
        Sandpile &s = sandpile();
        tick(s);
        QCOMPARE(s.model().grainsAdded(), 1);   // the first random drop
        tick(s);
        QCOMPARE(s.model().grainsAdded(), 2);
        QVERIFY(showsItsPile(s));
    }

    void controlsAreConnectedToTheirSlots_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QByteArray>("slot");
        auto row = [](const char *sender, const char *signal, const char *slot) {
            QTest::newRow(sender) << QString::fromLatin1(sender) << QByteArray(signal) << QByteArray(slot);
        };
        row("displayButton", SIGNAL(toggled(bool)), SLOT(slotDisplay(bool)));
        row("burnButton", SIGNAL(toggled(bool)), SLOT(slotBurn(bool)));
        row("startAgainButton", SIGNAL(clicked()), SLOT(slotStartAgain()));
        row("mode", SIGNAL(activated(int)), SLOT(slotRunningStyle(int)));
        row("speed", SIGNAL(activated(int)), SLOT(slotSpeed(int)));
    }
    void controlsAreConnectedToTheirSlots()
    {
        QFETCH(QString, sender);
        QFETCH(QByteArray, signal);
        QFETCH(QByteArray, slot);
        QObject *from = window->findChild<QPushButton *>(sender);
        if (!from)
            from = combo(sender.toLatin1());
        QVERIFY(from);
        // Exactly one such connection: it can be taken down once.
        QVERIFY(QObject::disconnect(from, signal, &sandpile(), slot));
        QVERIFY(!QObject::disconnect(from, signal, &sandpile(), slot));
    }

    // Clicks and choices reach the pile: each button and item does what
    // its slot does.
    void controlsSteerThePile()
    {
        Sandpile &s = sandpile();
        const std::vector<int> fresh = s.model().z();
        auto *burn = child<QPushButton>("burnButton");
        burn->click();
        tick(s);
        QCOMPARE(s.model().grainsAdded(), 0);   // the tick burnt instead of dropping
        QCOMPARE(firstSiteMisshowingTheBurn(screenOf(s), s.model()), -1);
        burn->click();
        QVERIFY(!burn->isChecked());
        QVERIFY(showsItsPile(s));

        auto *display = child<QPushButton>("displayButton");
        display->click();
        QVERIFY(!display->isChecked());
        const QImage frozen = screenOf(s).copy(WidgetGeometry::picture());
        for (int t = 0; t < 5; ++t)
            tick(s);
        QVERIFY(s.model().grainsAdded() > 0);
        QCOMPARE(screenOf(s).copy(WidgetGeometry::picture()), frozen);
        display->click();
        QVERIFY(showsItsPile(s));

        child<QPushButton>("startAgainButton")->click();
        QCOMPARE(s.model().grainsAdded(), 0);
        QVERIFY(s.model().z() != fresh);
        QVERIFY(showsItsPile(s));

        // The combo boxes pass the position of the item chosen.
        const std::vector<int> ones(WidgetGeometry::N, 1);
        emit combo("mode")->activated(3);   // fractalsand 1
        QCOMPARE(s.model().z(), ones);
        emit combo("speed")->activated(2);   // pause
        tick(s);
        QCOMPARE(s.model().z(), ones);
        emit combo("speed")->activated(0);
        tick(s);
        QVERIFY(s.model().z() != ones);
    }

    void lastSlotsAreTheSevenOfTheModel()
    {
        const QMetaObject *meta = sandpile().metaObject();
        QCOMPARE(meta->className(), "Sandpile");
        QCOMPARE(meta->superClass()->className(), "QWidget");
        QCOMPARE(window->metaObject()->className(), "QWidget");   // the window adds no meta-information
        const std::pair<const char *, QMetaMethod::Access> expected[] = {
            {"slotRunningStyle(int)", QMetaMethod::Public}, {"slotBurn(bool)", QMetaMethod::Public},
            {"slotDisplay(bool)", QMetaMethod::Public},     {"slotSpeed(int)", QMetaMethod::Public},
            {"slotStartAgain()", QMetaMethod::Public},      {"sprinkle()", QMetaMethod::Private},
            {"update()", QMetaMethod::Private},
        };
        QCOMPARE(meta->methodCount() - meta->methodOffset(), 7);
        for (int i = 0; i < 7; ++i) {
            const QMetaMethod m = meta->method(meta->methodOffset() + i);
            QCOMPARE(m.methodSignature(), QByteArray(expected[i].first));
            QCOMPARE(m.methodType(), QMetaMethod::Slot);
            QCOMPARE(m.access(), expected[i].second);
        }
    }

    void legendShowsTheSiteColours()
    {
        const QImage screen = window->grab().toImage();
        const QColor swatches[] = {Qt::black, Qt::darkGray, Qt::lightGray, Qt::white, Qt::red};
        for (int row = 0; row < 5; ++row) {
            const QRect swatch(820, 470 + 20 * row, 10, 10);
            for (QPoint p : {swatch.topLeft(), swatch.bottomRight(), swatch.center()})
                QCOMPARE(screen.pixelColor(p), swatches[row]);
            // The swatch is exactly 10 pixels tall: background above and below it.
            QVERIFY(screen.pixelColor(swatch.left(), swatch.top() - 1) != swatches[row]
                    || screen.pixelColor(swatch.left(), swatch.bottom() + 1) != swatches[row]);
        }
        // Each text draws ink right of its swatch, above its baseline.
        const QColor background = screen.pixelColor(990, 460);
        auto hasInk = [&](QRect area) {
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    if (screen.pixelColor(x, y) != background)
                        return true;
            return false;
        };
        QVERIFY(hasInk(QRect(820, 428, 150, 12)));
        for (int row = 0; row < 5; ++row)
            QVERIFY(hasInk(QRect(850, 468 + 20 * row, 100, 12)));
        QVERIFY(!hasInk(QRect(840, 470, 9, 100)));   // nothing between swatches and texts

        // The title names the lattice's side: the same pixels as the text
        // drawn alone in the window's font.
        QImage title(screen.size(), screen.format());
        title.fill(background);
        {
            QPainter painter(&title);
            painter.setFont(window->font());
            painter.setPen(window->palette().color(QPalette::WindowText));
            painter.drawText(820, 440, QStringLiteral("System size L = ") + QString::number(WidgetGeometry::L));
        }
        const QRect titleArea(820, 420, 180, 30);
        QCOMPARE(screen.copy(titleArea), title.copy(titleArea));
    }

    void quitEndsTheRunWithStatusZero()
    {
        window->show();
        QTimer::singleShot(0, this, [this] { child<QPushButton>("exitButton")->click(); });
        QCOMPARE(QApplication::exec(), 0);
    }

    void closingTheWindowEndsTheRun()
    {
        window->show();
        QTimer::singleShot(0, this, [this] { window->close(); });
        QCOMPARE(QApplication::exec(), 0);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
