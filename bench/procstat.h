// SPDX-License-Identifier: MIT
#pragma once

// What a running process has used so far, summed over its threads, read from
// /proc from outside it (no tracing, nothing attached).

#include <dirent.h>
#include <fstream>
#include <string>

#include <sys/types.h>

namespace ProcStat {

template<typename Read>
long long sumOverThreads(pid_t pid, const char *file, Read read)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    long long sum = 0;
    if (DIR *dir = opendir(tasks.c_str())) {
        while (const dirent *e = readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream f(tasks + "/" + e->d_name + "/" + file);
            sum += read(f);
        }
        closedir(dir);
    }
    return sum;
}

// CPU time in nanoseconds (schedstat: run time on a CPU, exact to the nanosecond).
inline long long cpuNs(pid_t pid)
{
    return sumOverThreads(pid, "schedstat", [](std::ifstream &f) {
        long long ns = 0;
        f >> ns;
        return ns;
    });
}

// Times a thread left the CPU, voluntarily (it went to sleep) or not: each
// of its wake-ups ends in one of them.
inline long long contextSwitches(pid_t pid)
{
    return sumOverThreads(pid, "status", [](std::ifstream &f) {
        long long n = 0;
        std::string line;
        while (std::getline(f, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                n += std::stoll(line.substr(line.find(':') + 1));
        }
        return n;
    });
}

} // namespace ProcStat
