// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Turns received bytes into transcript text, chunk by chunk. CR LF, a lone CR
// and a lone LF each become one line break, also when CR and LF arrive in
// different chunks. Every other byte stays one character: the transcript's
// own form keeps it as the byte itself (CodePage::shownAs), so control bytes
// show as their control pictures, the five bytes Windows-1250 leaves
// unassigned as the replacement character U+FFFD and the soft hyphen as a
// visible hyphen; no byte is lost or invisible.
class ReceiveDecoder
{
public:
    // Appends the text of `bytes` in the transcript's form, one byte a
    // character (line breaks '\n'), to `out`.
    void decode(QByteArrayView bytes, QByteArray &out);
    // Appends the text of `bytes` as it shows to `out`.
    void decode(QByteArrayView bytes, QString &out);
    QString decode(QByteArrayView bytes);

    // The characters that text in the transcript's form shows as.
    static void appendShown(QByteArrayView stored, QString &out);

private:
    bool m_afterCR = false;
};
