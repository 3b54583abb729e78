#pragma once

#include <QLCDNumber>

// A digit display whose value is set as often as the model likes but
// reaches the screen only when it is presented, so that a run of many
// changes costs one repaint.
class Readout : public QLCDNumber
{
public:
    Readout(int digits, QWidget *parent, const char *name);

    void showCount(qint64 count);
    void showValue(double value);
    void blank();

    // Puts the latest value on the display if it differs from what it shows.
    void present();

private:
    enum class Kind { Count, Value, Blank };

    const int digits;   // the display's own width
    Kind kind = Kind::Count;
    qint64 count = 0;
    double number = 0.0;
    bool changed = true;
};
