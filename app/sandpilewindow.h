#pragma once

#include <QWidget>

// The program's window: the lattice widget on the left, a column of
// controls on the right and, between them, a legend of the site colours.
class SandpileWindow : public QWidget
{
public:
    // Where the program opens the window on the screen, and its size.
    static constexpr QRect INITIAL_GEOMETRY{0, 50, 1000, 700};
    // The lattice widget's place in the window.
    static constexpr QRect SANDPILE_GEOMETRY{0, 50, 800, 600};

    explicit SandpileWindow(QWidget *parent = nullptr, const char *name = nullptr);
    ~SandpileWindow() override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
