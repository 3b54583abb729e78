// sandpile-pile's pictures decoded back to the heights, each palette
// against the colours its manual names; and its .npy heights read back.
#include "npyfile.h"
#include "picture.h"

#include <QImage>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

class PictureTest : public QObject
{
    Q_OBJECT

private slots:
    void eachPaletteDecodesBackToTheHeights_data()
    {
        QTest::addColumn<QString>("palette");
        QTest::addColumn<QList<QRgb>>("colours");   // heights 0 to 3
        QTest::newRow("window: black, dark grey, light grey, white")
            << "window" << QList<QRgb>{qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(192, 192, 192), qRgb(255, 255, 255)};
        QTest::newRow("print: the reverse")
            << "print" << QList<QRgb>{qRgb(255, 255, 255), qRgb(192, 192, 192), qRgb(96, 96, 96), qRgb(0, 0, 0)};
        QTest::newRow("heat: black to yellow")
            << "heat" << QList<QRgb>{qRgb(0, 0, 0), qRgb(160, 20, 20), qRgb(240, 120, 0), qRgb(255, 230, 80)};
        QTest::newRow("sea: deep to foam")
            << "sea" << QList<QRgb>{qRgb(8, 16, 48), qRgb(20, 80, 160), qRgb(80, 180, 220), qRgb(230, 250, 255)};
    }

    void eachPaletteDecodesBackToTheHeights()
    {
        QFETCH(QString, palette);
        QFETCH(QList<QRgb>, colours);
        const int width = 7, height = 3;   // not square: rows and columns kept apart
        std::vector<std::uint8_t> heights(width * height);
        for (std::size_t i = 0; i < heights.size(); ++i)
            heights[i] = std::uint8_t((i * 5 + i / width) % 4);
        const std::string png = Picture::png(heights, width, height, palette.toStdString());
        const QImage image = QImage::fromData(QByteArray::fromStdString(png), "png");
        QCOMPARE(image.size(), QSize(width, height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                QCOMPARE(colours.indexOf(image.pixel(x, y)), int(heights[y * width + x]));
    }

    void heightsWrittenAreReadBackRowByRow()
    {
        const int width = 5, height = 2;
        const std::vector<std::uint8_t> heights{0, 1, 2, 3, 0, 3, 2, 1, 0, 3};
        char path[] = "/tmp/pictureXXXXXX";
        const int fd = mkstemp(path);
        QVERIFY(fd >= 0);
        const std::string bytes = NpyFile::encode(heights, width, height);
        QCOMPARE(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        close(fd);
        const NpyFile::Array array = NpyFile::read(path);
        std::remove(path);
        QCOMPARE(array.width, width);
        QCOMPARE(array.height, height);
        QCOMPARE(array.values, std::vector<std::int64_t>(heights.begin(), heights.end()));
    }
};

QTEST_APPLESS_MAIN(PictureTest)
#include "tst_picture.moc"
