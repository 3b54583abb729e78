// The program's desktop identity, set up as main does it: its window icon,
// drawn from the sites of a pile in the simulator's colours, and its
// application id.

#include "identity.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QSet>
#include <QWindow>
#include <QtTest>

class IdentityTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setDesktopIdentity(); }

    void desktopFileNameIsTheApplicationId()
    {
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral(SANDPILE_APP_ID));
    }

    void windowsGetTheIcon()
    {
        QVERIFY(!QGuiApplication::windowIcon().isNull());
        QWindow window;
        QCOMPARE(window.icon().cacheKey(), QGuiApplication::windowIcon().cacheKey());
    }

    void iconShowsSharpSitesInThePileColours_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {16, 32, 48, 128})
            QTest::addRow("%d px", size) << size;
    }

    // The icon is four by four sites: at each size every site is a square of
    // one colour of the simulator's, and all six colours appear.
    void iconShowsSharpSitesInThePileColours()
    {
        QFETCH(int, size);
        const QImage image = QGuiApplication::windowIcon().pixmap(size, size).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(image.size(), QSize(size, size));

        const QSet<QRgb> pileColours{qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(192, 192, 192),
                                     qRgb(255, 255, 255), qRgb(255, 0, 0), qRgb(255, 255, 0)};
        QSet<QRgb> seen;
        const int site = size / 4;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QRgb colour = image.pixel(x, y);
                QVERIFY2(pileColours.contains(colour), qPrintable(QStringLiteral("(%1, %2) is #%3").arg(x).arg(y).arg(colour, 6, 16)));
                QCOMPARE(colour, image.pixel(x / site * site, y / site * site));
                seen.insert(colour);
            }
        }
        QCOMPARE(seen, pileColours);
    }
};

QTEST_MAIN(IdentityTest)
#include "tst_identity.moc"
