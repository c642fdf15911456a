// SPDX-License-Identifier: MIT
#include "sessionlogcheck.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string_view>

namespace {

constexpr std::string_view StampShape = "dddd-dd-dd dd:dd:dd.ddd ";

bool stamped(std::string_view line)
{
    if (line.size() < StampShape.size())
        return false;
    for (size_t i = 0; i < StampShape.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (StampShape[i] == 'd' ? !digit : line[i] != StampShape[i])
            return false;
    }
    return true;
}

// Whether `text` is line `n` of the flood as the log holds it: no stamp, no line break.
bool isFloodLine(std::string_view text, const FloodText &flood, long long n)
{
    const QByteArray line = flood.lines(n, 1);
    return text == std::string_view(line.constData(), size_t(line.size() - 2));
}

} // namespace

LoggedFlood readSessionLog(const std::string &path, long long receivedChars, const FloodText &flood, long long lines)
{
    LoggedFlood result;
    std::ifstream f(path, std::ios::binary);
    std::string line;
    if (!std::getline(f, line)) {
        std::fprintf(stderr, "floodbench: no session log in %s\n", path.c_str());
        return result;
    }
    long long bytes = 0;    // after the header
    long long breaks = 0;   // lines ended, each with its stamp
    long long next = -1;    // the flood's line due next, once it began
    long long departs = -1; // the log's first line that is not as it should be
    for (long long at = 1; std::getline(f, line); ++at) {
        const bool ended = !f.eof();
        bytes += (long long)line.size() + ended;
        breaks += ended;
        const std::string_view text = std::string_view(line).substr(std::min(line.size(), StampShape.size()));
        // What came before the flood (short marker lines) only needs its stamps.
        if (next < 0 && isFloodLine(text, flood, 0))
            next = 0;
        const bool due = next < 0 || (next < lines && isFloodLine(text, flood, next));
        if ((!stamped(line) || !due) && departs < 0)
            departs = at;
        if (next >= 0)
            ++next;
    }
    result.completeness = double(bytes) / double(receivedChars + (long long)StampShape.size() * breaks);
    result.whole = departs < 0 && next == lines;
    if (departs >= 0)
        std::fprintf(stderr, "floodbench: the session log departs from the flood at its line %lld\n", departs + 1);
    else if (!result.whole)
        std::fprintf(stderr, "floodbench: the session log holds %lld of the flood's %lld lines\n",
                     std::max(0LL, next), lines);
    return result;
}
