#pragma once

#include <QTest>

#include <vector>

// Sites of every kind with their neighbours in the order up, right, down,
// left: columns "site" and "neighbours" of a data-driven test.
inline void addNeighbourRows()
{
    QTest::addColumn<int>("site");
    QTest::addColumn<std::vector<int>>("neighbours");
    QTest::newRow("interior") << 11100 << std::vector<int>{10951, 11101, 11249, 11099};
    QTest::newRow("corner 0") << 0 << std::vector<int>{1, 149};
    QTest::newRow("corner 148") << 148 << std::vector<int>{297, 147};
    QTest::newRow("corner 22052") << 22052 << std::vector<int>{21903, 22053};
    QTest::newRow("corner 22200") << 22200 << std::vector<int>{22051, 22199};
    QTest::newRow("left edge 149") << 149 << std::vector<int>{0, 150, 298};
    QTest::newRow("right edge 297") << 297 << std::vector<int>{148, 446, 296};
    QTest::newRow("top edge 1") << 1 << std::vector<int>{2, 150, 0};
    QTest::newRow("bottom edge 22199") << 22199 << std::vector<int>{22050, 22200, 22198};
}
