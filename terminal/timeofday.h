// SPDX-License-Identifier: MIT
#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// The clock's text: the user's own long time format (hours, minutes and
// seconds), without the time zone that format may carry.
namespace TimeOfDay {

QString format(const QLocale &locale);
QString text(QTime time, const QLocale &locale = QLocale::system());

} // namespace TimeOfDay
