#include "support/sandpiletest.h"

#include "sandpile/latticeimage.h"

#include <QPainter>
#include <QtTest>

#include <set>

// The lattice picture in its own image coordinates: where each square
// lies, its colours, the strips it never paints, which rows it hands back
// for repainting, and that repaints copy the presented frame; then, in the
// widget, that the full redraw brings the picture back to the heights.
class RenderingTest : public QObject
{
    Q_OBJECT

    static constexpr int L = WidgetGeometry::L;
    static constexpr int N = WidgetGeometry::N;
    static constexpr int SIDE_PIXELS = L * LatticeImage::CELL;   // 596
    static inline const QColor BACKGROUND{0x12, 0x34, 0x56};

    std::unique_ptr<LatticeImage> image;

    // The presented frame drawn onto a canvas a little larger than the
    // picture, through a region covering the whole canvas.
    QImage drawn() const
    {
        QImage canvas(SIDE_PIXELS + 4, SIDE_PIXELS + 4, QImage::Format_RGB32);
        canvas.fill(BACKGROUND);
        QPainter painter(&canvas);
        image->draw(painter, QRegion(canvas.rect()));
        return canvas;
    }

    void fillAll(const std::function<uchar(int site)> &shadeOf)
    {
        for (int site = 0; site < N; ++site)
            image->fillSquare(site, shadeOf(site));
    }

    // Whether every pixel of a rectangle of the canvas has one colour.
    static bool allOf(const QImage &canvas, const QRect &area, const QColor &colour)
    {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (canvas.pixelColor(x, y) != colour)
                    return false;
        return true;
    }

private slots:
    void init() { image = std::make_unique<LatticeImage>(L); }
    void cleanup() { image.reset(); }

    void cornerSquaresLieAtTheEdgesOfThePicture_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QRect>("square");
        QTest::newRow("0") << 0 << QRect(QPoint(0, 0), QPoint(3, 3));
        QTest::newRow("148") << 148 << QRect(QPoint(592, 0), QPoint(595, 3));
        QTest::newRow("22052") << 22052 << QRect(QPoint(0, 592), QPoint(3, 595));
        QTest::newRow("22200") << 22200 << QRect(QPoint(592, 592), QPoint(595, 595));
    }
    void cornerSquaresLieAtTheEdgesOfThePicture()
    {
        QFETCH(int, site);
        QFETCH(QRect, square);
        QCOMPARE(image->squareOf(site), square);
        for (QPoint p : {square.topLeft(), square.bottomRight(), square.center()})
            QCOMPARE(image->siteAt(p), site);

        // One site white in a black pile: exactly its 16 pixels are white.
        fillAll([site](int i) { return LatticeImage::shadeOfHeight(i == site ? 3 : 0); });
        image->present();
        const QImage canvas = drawn();
        for (int y = square.top() - 1; y <= square.bottom() + 1; ++y)
            for (int x = square.left() - 1; x <= square.right() + 1; ++x)
                if (image->rect().contains(x, y))
                    QCOMPARE(canvas.pixelColor(x, y) == Qt::white, square.contains(x, y));
    }

    void pointsOutsideThePictureHoldNoSite_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::newRow("left") << QPoint(-1, 0);
        QTest::newRow("above") << QPoint(0, -1);
        QTest::newRow("right") << QPoint(596, 10);
        QTest::newRow("below") << QPoint(10, 596);
        QTest::newRow("beyond the corner") << QPoint(596, 596);
    }
    void pointsOutsideThePictureHoldNoSite()
    {
        QFETCH(QPoint, at);
        QCOMPARE(image->siteAt(at), -1);
    }

    void shadesAreDrawnInTheirColours_data()
    {
        QTest::addColumn<int>("shade");
        QTest::addColumn<QColor>("colour");
        auto row = [](const char *name, uchar shade, QColor colour) {
            QTest::newRow(name) << int(shade) << colour;
        };
        row("negative height", LatticeImage::shadeOfHeight(-1), Qt::black);
        row("height 0", LatticeImage::shadeOfHeight(0), Qt::black);
        row("height 1", LatticeImage::shadeOfHeight(1), Qt::darkGray);
        row("height 2", LatticeImage::shadeOfHeight(2), Qt::lightGray);
        row("height 3", LatticeImage::shadeOfHeight(3), Qt::white);
        row("height 4", LatticeImage::shadeOfHeight(4), Qt::red);
        row("height 7", LatticeImage::shadeOfHeight(7), Qt::red);
        row("toppling", LatticeImage::Toppling, Qt::red);
        row("burnt", LatticeImage::Burnt, Qt::yellow);
    }
    void shadesAreDrawnInTheirColours()
    {
        QFETCH(int, shade);
        QFETCH(QColor, colour);
        fillAll([shade](int i) { return i % 2 ? uchar(shade) : LatticeImage::shadeOfHeight(2); });
        image->present();
        const QImage canvas = drawn();
        for (int site : {1, 11101, 22199})
            QVERIFY(allOf(canvas, image->squareOf(site), colour));
        QVERIFY(allOf(canvas, image->squareOf(0), Qt::lightGray));
    }

    void flatPileGivesAnAllBlackPicture()
    {
        fillAll([](int) { return LatticeImage::shadeOfHeight(0); });
        image->present();
        QVERIFY(allOf(drawn(), image->rect(), Qt::black));
    }

    void stripsBesideAndBelowThePictureAreNeverPainted()
    {
        fillAll([](int) { return uchar(LatticeImage::Toppling); });
        image->fillSquare(N - 1, LatticeImage::Burnt);
        image->present();
        const QImage canvas = drawn();
        QCOMPARE(image->rect(), QRect(0, 0, SIDE_PIXELS, SIDE_PIXELS));
        QVERIFY(allOf(canvas, QRect(SIDE_PIXELS, 0, 4, SIDE_PIXELS + 4), BACKGROUND));
        QVERIFY(allOf(canvas, QRect(0, SIDE_PIXELS, SIDE_PIXELS + 4, 4), BACKGROUND));
        QCOMPARE(canvas.pixelColor(SIDE_PIXELS - 1, SIDE_PIXELS - 1), QColor(Qt::yellow));

        // In the widget the picture lies at (200, 0): its strips at x = 796
        // to 799 and y = 596 to 599 show the widget's own background.
        auto sandpile = freshSandpile();
        const QImage screen = screenOf(*sandpile);
        const QColor background = sandpile->palette().color(sandpile->backgroundRole());
        QVERIFY(allOf(screen, QRect(796, 0, 4, 600), background));
        QVERIFY(allOf(screen, QRect(200, 596, 600, 4), background));
        QVERIFY(allOf(screen, WidgetGeometry::siteSquare(0), colourOfHeight(sandpile->model().z()[0])));
    }

    void repaintsShowThePresentedFrameUntilTheNextPresent()
    {
        fillAll([](int) { return LatticeImage::shadeOfHeight(1); });
        image->present();
        QVERIFY(!image->hasChanges());
        image->fillSquare(WidgetGeometry::CENTRE, LatticeImage::Burnt);
        QVERIFY(image->hasChanges());
        QVERIFY(allOf(drawn(), image->squareOf(WidgetGeometry::CENTRE), Qt::darkGray));   // painted, not yet presented
        image->present();
        QVERIFY(!image->hasChanges());
        const QImage canvas = drawn();
        QVERIFY(allOf(canvas, image->squareOf(WidgetGeometry::CENTRE), Qt::yellow));
        QVERIFY(allOf(canvas, image->squareOf(WidgetGeometry::CENTRE - 1), Qt::darkGray));
    }

    void changedSquaresAreRequestedForRepaintInRowBands()
    {
        QVERIFY(!image->hasChanges());
        QVERIFY(image->present().isEmpty());

        const std::set<int> changedRows{0, 10, 11, 100};
        const std::vector<int> changed{0, 148, L * 10 + 5, L * 11 + 5, L * 100 + 77};
        for (int site : changed)
            image->fillSquare(site, LatticeImage::Toppling);
        const QRegion region = image->present();
        QVERIFY(!image->hasChanges());

        // Every changed square is requested; each band spans whole rows of
        // the picture's width; bands that would touch are merged; and no band
        // reaches more than a row past the changes it repaints.
        for (int site : changed)
            QVERIFY(region.contains(image->squareOf(site)));
        QVERIFY(region.boundingRect().width() == SIDE_PIXELS);
        const QList<QRect> bands(region.begin(), region.end());
        QVERIFY(bands.size() >= 3);   // rows 0, 10-11 and 100 lie far apart
        for (int b = 0; b < bands.size(); ++b) {
            const QRect &band = bands[b];
            QCOMPARE(band.left(), 0);
            QCOMPARE(band.width(), SIDE_PIXELS);
            QCOMPARE(band.top() % LatticeImage::CELL, 0);
            QCOMPARE(band.height() % LatticeImage::CELL, 0);
            if (b > 0)
                QVERIFY(bands[b - 1].bottom() + 1 < band.top());
            bool nearAChange = false;
            for (int row = band.top() / LatticeImage::CELL; row <= band.bottom() / LatticeImage::CELL; ++row)
                nearAChange = nearAChange || changedRows.count(row) || changedRows.count(row - 1)
                              || changedRows.count(row + 1);
            QVERIFY(nearAChange);
        }
        QVERIFY(!region.intersects(QRect(0, 50 * LatticeImage::CELL, SIDE_PIXELS, 4)));

        // A square in every row: the whole picture, as one band.
        for (int site = 0; site < N; site += L)
            image->fillSquare(site, LatticeImage::Toppling);
        QCOMPARE(image->present(), QRegion(image->rect()));
    }

    void fullRedrawShowsTheHeightsWhateverThePictureShowed()
    {
        // The burning test paints yellow; repaints copy that picture, and
        // only the redraw slot brings back the colours of the heights.
        auto sandpile = freshSandpile();
        toggle(*sandpile, "slotBurn", true);
        tick(*sandpile);
        int burnt = 0;
        while (burnt < WidgetGeometry::N && !sandpile->model().isBurnt(burnt))
            ++burnt;
        QVERIFY(burnt < WidgetGeometry::N);
        QCOMPARE(squareColour(screenOf(*sandpile), burnt), QColor(Qt::yellow));
        QCOMPARE(squareColour(screenOf(*sandpile), burnt), QColor(Qt::yellow));
        redraw(*sandpile);
        QVERIFY(showsItsPile(*sandpile));
    }
};

QTEST_MAIN(RenderingTest)
#include "tst_rendering.moc"
