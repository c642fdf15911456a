// SPDX-License-Identifier: MIT
#pragma once

#include "floodtext.h"

#include <cmath>
#include <string>

// What a timestamped session log (--log FILE --timestamps) holds after a
// flood of lines.
struct LoggedFlood
{
    // Bytes after the header against the bytes it should hold: every
    // received character (all ASCII here, so a byte each) and a stamp per line.
    double completeness = NAN;
    // It ends with the flood's lines, each whole, stamped and in order.
    bool whole = false;
};

// Reads the log at `path`: one header line, then the received text, every
// line starting with a "yyyy-MM-dd HH:mm:ss.zzz " stamp. The program received
// `receivedChars` characters in all, the last of them lines 0 to `lines` - 1
// of `flood` (a flood with line breaks, not the endless line).
LoggedFlood readSessionLog(const std::string &path, long long receivedChars, const FloodText &flood, long long lines);
