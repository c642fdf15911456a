// SPDX-License-Identifier: MIT
// The "baud,parity,data,stop" parser. Rejecting text with CommError is its
// job; anything else that goes wrong is a finding.
#include "commerror.h"
#include "fuzzcheck.h"
#include "linesettings.h"

void fuzz(QByteArrayView in)
{
    LineSettings parsed;
    try {
        parsed = LineSettings::parse(QString::fromUtf8(in));
    } catch (const CommError &error) {
        FUZZ_CHECK(error.number() == CommError::InvalidPropertyValue && !error.description().isEmpty());
        return;
    }
    FUZZ_CHECK(parsed.baudRate >= 50 && parsed.baudRate <= 4000000 && parsed.dataBits >= 5 && parsed.dataBits <= 8);
    // Whatever was accepted reads back the same from its own spelling.
    FUZZ_CHECK(LineSettings::parse(parsed.toString()) == parsed);
}
