// SPDX-License-Identifier: MIT
#pragma once

#include "benchprocess.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// What benchterm's probe (probe.cpp) logs, read as it grows.
struct ProbeLog
{
    std::string path;
    size_t offset = 0;
    std::string partial;
    bool started = false;
    int textsWritten = 0;
    std::vector<std::pair<Ns, long long>> paints; // time, characters received so far
    std::vector<std::pair<Ns, long long>> typedPaints; // time, keys typed so far
    std::vector<Ns> ticks;
    struct Box
    {
        std::string name;
        Ns time;
        std::string colour;
    };
    std::vector<Box> boxes;

    // Reads the lines added since the last call.
    void poll();
    // The first repaint at or after `after` that shows `chars` received characters.
    std::optional<Ns> waitForPaint(long long chars, Ns after, Ns timeout);
    // The first repaint at or after `after` that shows `keys` typed keys.
    std::optional<Ns> waitForTypedPaint(long long keys, Ns after, Ns timeout);
    // Has the program write its transcript out (SIGURG) and returns it, as UTF-8.
    std::optional<std::string> transcript(pid_t pid, Ns timeout);
};
