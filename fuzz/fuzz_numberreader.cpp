// The reader of typed port numbers: any text at all, as UTF-8 (Polish letters,
// blanks) or as raw UTF-16 (NULs, lone surrogates), chosen by the first byte.
#include "fuzzcheck.h"
#include "numberreader.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto *rest = reinterpret_cast<const char *>(data + 1);
    const std::size_t restSize = size - 1;
    QString text;
    if (data[0] & 1) {
        text.resize(qsizetype(restSize / 2));
        std::memcpy(text.data(), rest, restSize / 2 * 2); // the bytes need not be aligned
    } else {
        text = QString::fromUtf8(rest, qsizetype(restSize));
    }

    const double value = NumberReader::read(text);
    FUZZ_CHECK(!std::isnan(value));

    // Blanks count for nothing wherever they stand.
    QString bare = text;
    bare.remove(u' ').remove(u'\t').remove(u'\n');
    FUZZ_CHECK(NumberReader::read(bare) == value);

    // The byte is the value rounded half to even, whenever that fits.
    const std::optional<quint8> byte = NumberReader::readByte(text);
    FUZZ_CHECK(byte.has_value() == (value >= -0.5 && value < 255.5));
    if (byte) {
        FUZZ_CHECK(std::abs(*byte - value) <= 0.5);
        if (std::abs(*byte - value) == 0.5)
            FUZZ_CHECK(*byte % 2 == 0);
    }
    return 0;
}
