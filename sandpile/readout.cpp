#include "readout.h"

#include <algorithm>

Readout::Readout(int digits, QWidget *parent, const char *name)
    : QLCDNumber(digits, parent)
    , digits(digits)
{
    setObjectName(QString::fromLatin1(name));
    setSegmentStyle(Filled);
}

void Readout::showCount(qint64 newCount)
{
    changed = changed || kind != Kind::Count || count != newCount;
    kind = Kind::Count;
    count = newCount;
}

void Readout::showValue(double newValue)
{
    changed = changed || kind != Kind::Value || number != newValue;
    kind = Kind::Value;
    number = newValue;
}

void Readout::blank()
{
    changed = changed || kind != Kind::Blank;
    kind = Kind::Blank;
}

void Readout::present()
{
    if (!changed)
        return;
    changed = false;
    switch (kind) {
    case Kind::Count: {
        // A count that outgrows the display widens it rather than freezing
        // the old digits, as a plain digit display does on overflow.
        const QString text = QString::number(count);
        setDigitCount(std::max(digits, int(text.size())));
        display(text);
        break;
    }
    case Kind::Value:
        display(number);
        break;
    case Kind::Blank:
        display(QString());
        break;
    }
}
