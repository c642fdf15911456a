// SPDX-License-Identifier: MIT
#include "benchprocess.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

Ns now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Ns(ts.tv_sec) * sec + ts.tv_nsec;
}

void sleepMs(int n)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(n));
}

void fail(const std::string &what)
{
    std::fprintf(stderr, "floodbench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

pid_t spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
            const std::string &output)
{
    const pid_t pid = fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        for (const auto &[k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        sleepMs(10);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

double peakRssMb(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return NAN;
}

std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}
