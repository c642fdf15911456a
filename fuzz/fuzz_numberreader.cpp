// SPDX-License-Identifier: MIT
// The reader of typed port numbers: any text at all, as UTF-8 (Polish letters,
// blanks) or as raw UTF-16 (NULs, lone surrogates), chosen by the first byte.
#include "fuzzcheck.h"
#include "numberreader.h"

#include <QString>

#include <cmath>
#include <cstring>

void fuzz(QByteArrayView in)
{
    const QByteArrayView rest = in.sliced(1);
    QString text = QString::fromUtf8(rest);
    if (in[0] & 1) {
        text.resize(rest.size() / 2);
        std::memcpy(text.data(), rest.data(), text.size() * 2); // the bytes need not be aligned
    }
    const double value = NumberReader::read(text);
    // Blanks count for nothing wherever they stand (and the value is a number: NaN equals nothing).
    FUZZ_CHECK(NumberReader::read(QString(text).remove(u' ').remove(u'\t').remove(u'\n')) == value);
    // The byte is the value rounded half to even (as rint rounds), whenever that fits.
    const auto byte = NumberReader::readByte(text);
    FUZZ_CHECK(byte.has_value() == (value >= -0.5 && value < 255.5));
    FUZZ_CHECK(!byte || *byte == std::rint(value));
}
