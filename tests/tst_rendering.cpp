#include "support/probe.h"

#include <QExposeEvent>
#include <QtTest>

// The lattice picture: where each square lies, its colours, and which
// repaints recompute it from the heights.
class RenderingTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandpile> sandpile;

    void fillAndRedraw(const std::function<int(int)> &heightOf)
    {
        SandpileProbe::setHeights(*sandpile, heightOf);
        redraw(*sandpile);
    }

private slots:
    void init() { sandpile = freshSandpile(); }
    void cleanup() { sandpile.reset(); }

    void cornerSquaresLieAtTheEdgesOfThePicture_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QRect>("square");
        QTest::newRow("0") << 0 << QRect(QPoint(200, 0), QPoint(203, 3));
        QTest::newRow("148") << 148 << QRect(QPoint(792, 0), QPoint(795, 3));
        QTest::newRow("22052") << 22052 << QRect(QPoint(200, 592), QPoint(203, 595));
        QTest::newRow("22200") << 22200 << QRect(QPoint(792, 592), QPoint(795, 595));
    }
    void cornerSquaresLieAtTheEdgesOfThePicture()
    {
        QFETCH(int, site);
        QFETCH(QRect, square);
        // One site white in a black pile: exactly its 16 pixels are white.
        fillAndRedraw([site](int i) { return i == site ? 3 : 0; });
        const QImage screen = screenOf(*sandpile);
        for (int y = square.top() - 1; y <= square.bottom() + 1; ++y)
            for (int x = square.left() - 1; x <= square.right() + 1; ++x)
                if (Picture::area().contains(x, y))
                    QCOMPARE(screen.pixelColor(x, y) == Qt::white, square.contains(x, y));
    }

    void heightsAreDrawnInTheirColours_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("negative") << -1 << QColor(Qt::black);
        QTest::newRow("0") << 0 << QColor(Qt::black);
        QTest::newRow("1") << 1 << QColor(Qt::darkGray);
        QTest::newRow("2") << 2 << QColor(Qt::lightGray);
        QTest::newRow("3") << 3 << QColor(Qt::white);
        QTest::newRow("4") << 4 << QColor(Qt::red);
        QTest::newRow("7") << 7 << QColor(Qt::red);
    }
    void heightsAreDrawnInTheirColours()
    {
        QFETCH(int, height);
        QFETCH(QColor, colour);
        fillAndRedraw([height](int i) { return i % 2 ? height : 2; });
        const QImage screen = screenOf(*sandpile);
        for (int site : {1, 11101, 22199})
            QCOMPARE(squareColour(screen, site), colour);
        QCOMPARE(squareColour(screen, 0), QColor(Qt::lightGray));
    }

    void stripsBesideAndBelowThePictureAreNeverPainted()
    {
        const QImage before = screenOf(*sandpile);
        const QColor background = before.pixelColor(798, 10);
        fillAndRedraw([](int) { return 4; });
        SandpileProbe::paintBurnt(*sandpile, 22200);
        const QImage screen = screenOf(*sandpile);
        for (int y = 0; y < 600; ++y)
            for (int x = 796; x < 800; ++x)
                QCOMPARE(screen.pixelColor(x, y), background);
        for (int x = 200; x < 800; ++x)
            for (int y = 596; y < 600; ++y)
                QCOMPARE(screen.pixelColor(x, y), background);
        QCOMPARE(screen.pixelColor(795, 595), QColor(Qt::yellow));
    }

    void flatPileGivesAnAllBlackPicture()
    {
        fillAndRedraw([](int) { return 0; });
        const QImage picture = screenOf(*sandpile).copy(Picture::area());
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                QCOMPARE(picture.pixel(x, y), QColor(Qt::black).rgb());
    }

    void repaintShowsThePaintedSquaresWithoutRecomputingThem()
    {
        // A cell paint stays until a full redraw; a paint event only copies it.
        SandpileProbe::paintBurnt(*sandpile, 11100);
        SandpileProbe::setHeight(*sandpile, 0, 3 - SandpileProbe::height(*sandpile, 0) % 4);
        const QImage screen = screenOf(*sandpile);
        QCOMPARE(squareColour(screen, 11100), QColor(Qt::yellow));
        QVERIFY(firstSiteNotShowingItsHeight(screen, SandpileProbe::heights(*sandpile)) == 0);

        redraw(*sandpile);
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), SandpileProbe::heights(*sandpile)), -1);
    }

    void exposureRedrawsTheLatticeFromItsHeights()
    {
        sandpile->show();
        QVERIFY(QTest::qWaitForWindowExposed(sandpile.get()));
        SandpileProbe::paintBurnt(*sandpile, 11100);
        SandpileProbe::setHeight(*sandpile, 5, 4);
        QExposeEvent expose(QRegion(0, 0, 800, 600));
        QCoreApplication::sendEvent(sandpile->windowHandle(), &expose);
        QCOMPARE(firstSiteNotShowingItsHeight(screenOf(*sandpile), SandpileProbe::heights(*sandpile)), -1);
    }

    void changedSquaresAreRequestedForRepaintInRowBands()
    {
        LatticeImage image;
        QVERIFY(!image.hasChanges());
        image.fillSquare(0, Picture::Toppling);
        image.fillSquare(148, Picture::Toppling);
        image.fillSquare(149 * 10 + 5, Picture::Toppling);
        image.fillSquare(149 * 11 + 5, Picture::Toppling);
        const QRegion region = image.present();
        QVERIFY(!image.hasChanges());
        const QList<QRect> rects(region.begin(), region.end());
        // Changed rows are repainted whole; rows 10 and 11 merge into one band.
        QCOMPARE(rects, (QList<QRect>{QRect(200, 0, 596, 4), QRect(200, 40, 596, 8)}));

        for (int site = 0; site < Lattice::N; site += Lattice::L)
            image.fillSquare(site, Picture::Toppling);
        QCOMPARE(image.present(), QRegion(Picture::area()));
    }
};

QTEST_MAIN(RenderingTest)
#include "tst_rendering.moc"
