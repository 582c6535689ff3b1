#include "ClockText.h"

QString ClockText::format(const QLocale& locale)
{
    const QString full = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : full) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        out += c;
    }
    return out.simplified();
}

QString ClockText::text(const QLocale& locale, const QTime& time)
{
    return locale.toString(time, format(locale));
}
