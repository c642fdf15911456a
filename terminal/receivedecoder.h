// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QString>

// Turns received bytes into transcript text, chunk by chunk. CR LF, a lone CR
// and a lone LF each become one '\n', also when CR and LF arrive in different
// chunks. Other control bytes (0 to 31 but tab, and 127) become their visible
// control pictures (U+2400 onwards, U+2421), the five bytes Windows-1250 leaves
// unassigned the replacement character U+FFFD and the soft hyphen a visible
// hyphen, so no byte is lost or invisible.
class ReceiveDecoder
{
public:
    // Appends the text of `bytes` to `out`.
    void decode(QByteArrayView bytes, QString &out);
    QString decode(QByteArrayView bytes);

private:
    bool m_afterCR = false;
};
