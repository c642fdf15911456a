// SPDX-License-Identifier: MIT
#include "timeofday.h"

namespace TimeOfDay {

// Drops the zone fields (t, tt, ttt, tttt) and the blanks next to them,
// leaving quoted literals alone.
QString format(const QLocale &locale)
{
    const QString full = locale.timeFormat(QLocale::LongFormat);
    QString out;
    out.reserve(full.size());
    bool quoted = false;
    for (qsizetype i = 0; i < full.size(); ++i) {
        const QChar c = full.at(i);
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't') {
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
            while (i + 1 < full.size() && full.at(i + 1) == u't')
                ++i;
            continue;
        }
        out.append(c);
    }
    out = out.trimmed();
    return out.isEmpty() ? locale.timeFormat(QLocale::ShortFormat) : out;
}

QString text(QTime time, const QLocale &locale)
{
    return locale.toString(time, format(locale));
}

} // namespace TimeOfDay
