// SPDX-License-Identifier: MIT
#include "benchlog.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>

void ProbeLog::poll()
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return;
    f.seekg(std::streamoff(offset));
    std::string chunk((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    offset += chunk.size();
    partial += chunk;
    size_t nl;
    while ((nl = partial.find('\n')) != std::string::npos) {
        std::istringstream line(partial.substr(0, nl));
        partial.erase(0, nl + 1);
        std::string kind;
        line >> kind;
        if (kind == "start") {
            started = true;
        } else if (kind == "paint") {
            Ns t;
            long long chars;
            long long keys = 0;
            line >> t >> chars >> keys;
            paints.emplace_back(t, chars);
            typedPaints.emplace_back(t, keys);
        } else if (kind == "tick") {
            Ns t;
            line >> t;
            ticks.push_back(t);
        } else if (kind == "box") {
            Box b;
            line >> b.name >> b.time >> b.colour;
            boxes.push_back(b);
        } else if (kind == "text") {
            ++textsWritten;
        }
    }
}

std::optional<Ns> ProbeLog::waitForPaint(long long chars, Ns after, Ns timeout)
{
    const Ns deadline = now() + timeout;
    while (true) {
        poll();
        for (auto it = paints.rbegin(); it != paints.rend() && it->second >= chars; ++it) {
            if (std::next(it) == paints.rend() || std::next(it)->second < chars)
                return std::max(it->first, after);
        }
        if (now() > deadline)
            return std::nullopt;
        sleepMs(1);
    }
}

std::optional<Ns> ProbeLog::waitForTypedPaint(long long keys, Ns after, Ns timeout)
{
    const Ns deadline = now() + timeout;
    size_t from = 0;
    while (true) {
        poll();
        for (; from < typedPaints.size(); ++from) {
            if (typedPaints[from].first >= after && typedPaints[from].second >= keys)
                return typedPaints[from].first;
        }
        if (now() > deadline)
            return std::nullopt;
        sleepMs(1);
    }
}

std::optional<std::string> ProbeLog::transcript(pid_t pid, Ns timeout)
{
    poll();
    const int before = textsWritten;
    kill(pid, SIGURG);
    for (const Ns deadline = now() + timeout; textsWritten == before; sleepMs(5)) {
        if (now() > deadline)
            return std::nullopt;
        poll();
    }
    std::ifstream f(path + ".text", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}
