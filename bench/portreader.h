// SPDX-License-Identifier: MIT
#pragma once

#include "benchprocess.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

// What the program writes to the port (the master side of its
// pseudo-terminal), with arrival times, read on a thread of its own.
class PortReader
{
public:
    explicit PortReader(int fd)
        : m_fd(fd), m_thread([this] { run(); })
    {
    }
    ~PortReader()
    {
        m_stop = true;
        m_thread.join();
    }
    // The arrival time of the first `needle` at or after `from`; `from` moves past it.
    std::optional<Ns> waitFor(const std::string &needle, size_t &from, Ns timeout)
    {
        const Ns deadline = now() + timeout;
        std::unique_lock lock(m_mutex);
        while (true) {
            const size_t at = m_data.find(needle, from);
            if (at != std::string::npos) {
                const size_t end = at + needle.size();
                from = end;
                for (const auto &[offset, time] : m_arrivals) {
                    if (offset >= end)
                        return time;
                }
            }
            if (now() >= deadline)
                return std::nullopt;
            m_cv.wait_for(lock, std::chrono::milliseconds(5));
        }
    }
    size_t size()
    {
        std::lock_guard lock(m_mutex);
        return m_data.size();
    }

private:
    void run()
    {
        char buf[4096];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n <= 0)
                continue;
            const Ns t = now();
            std::lock_guard lock(m_mutex);
            m_data.append(buf, size_t(n));
            m_arrivals.emplace_back(m_data.size(), t);
            m_cv.notify_all();
        }
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::string m_data;
    std::vector<std::pair<size_t, Ns>> m_arrivals;
    std::thread m_thread;
};
