// SPDX-License-Identifier: MIT
#pragma once

// Time and the programs floodbench starts.

#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

using Ns = long long;
constexpr Ns ms = 1'000'000;
constexpr Ns sec = 1'000'000'000;

// CLOCK_MONOTONIC, the probe's clock.
Ns now();
void sleepMs(int n);
// Reports what failed, with errno's reason, and ends the benchmark.
[[noreturn]] void fail(const std::string &what);

// Starts argv[0] with `env` added, its output to the file `output`.
pid_t spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
            const std::string &output);
// SIGTERM, then SIGKILL after two seconds; reaps it.
void stop(pid_t pid);
// The process's peak resident set, in MB.
double peakRssMb(pid_t pid);
std::string loadAverage();
