#pragma once

#include <QWidget>

// The program's window: the lattice widget on the left, a column of
// controls on the right and, between them, a legend of the site colours.
class SandpileWindow : public QWidget
{
public:
    explicit SandpileWindow(QWidget *parent = nullptr, const char *name = nullptr);
    ~SandpileWindow() override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
