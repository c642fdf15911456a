// SPDX-License-Identifier: MIT
// The "baud,parity,data,stop" parser. Rejecting text with CommError is its
// job; anything else that goes wrong is a finding.
#include "commerror.h"
#include "fuzzcheck.h"
#include "linesettings.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    LineSettings parsed;
    try {
        parsed = LineSettings::parse(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    } catch (const CommError &error) {
        FUZZ_CHECK(error.number() == CommError::InvalidPropertyValue && !error.description().isEmpty());
        return 0;
    }
    FUZZ_CHECK(parsed.baudRate >= 50 && parsed.baudRate <= 4000000 && parsed.dataBits >= 5 && parsed.dataBits <= 8);
    // Whatever was accepted reads back the same from its own spelling.
    FUZZ_CHECK(LineSettings::parse(parsed.toString()) == parsed);
    return 0;
}
