// SPDX-License-Identifier: MIT
#include "warningbox.h"

#include <QMessageBox>

namespace {

// A zero-width space after every 60 characters of a word.
QString wrappable(const QString &text)
{
    constexpr int Run = 60;
    QString out;
    out.reserve(text.size() + text.size() / Run);
    int run = 0;
    for (const QChar c : text) {
        if (c.isSpace()) {
            run = 0;
        } else if (run >= Run && !c.isLowSurrogate()) {
            out += QChar(0x200B);
            run = 0;
        }
        out += c;
        run += !c.isSpace();
    }
    return out;
}

} // namespace

void WarningBox::show(QWidget *owner, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Ostrzeżenie"), wrappable(text), QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
