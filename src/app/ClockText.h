#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// The PC clock in the status bar: the locale's long time format (seconds,
// AM/PM where the user's settings say so) without the time-zone name Qt adds,
// which would not fit the status bar panel.
class ClockText
{
public:
    static QString format(const QLocale& locale);
    static QString text(const QLocale& locale, const QTime& time);
};
