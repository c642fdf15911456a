// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// One figure's samples, and its row in the table.
struct Samples
{
    std::vector<double> v;
    int failures = 0;
    void add(double x) { v.push_back(x); }
    void addOptional(std::optional<double> x)
    {
        if (x)
            v.push_back(*x);
        else
            ++failures;
    }
    double median() const
    {
        if (v.empty())
            return NAN;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        const size_t n = s.size();
        return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }
    double percentile(double p) const
    {
        if (v.empty())
            return NAN;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s[std::min(s.size() - 1, size_t(p / 100.0 * double(s.size())))];
    }
    double min() const { return v.empty() ? NAN : *std::min_element(v.begin(), v.end()); }
    double max() const { return v.empty() ? NAN : *std::max_element(v.begin(), v.end()); }
};

inline void row(const char *name, const Samples &s, const char *unit, const char *target, int decimals = 1)
{
    char fig[128];
    std::snprintf(fig, sizeof fig, "%.*f  %.*f  %.*f", decimals, s.median(), decimals, s.min(), decimals, s.max());
    std::string n = std::to_string(s.v.size());
    if (s.failures)
        n += " (" + std::to_string(s.failures) + " lost)";
    if (s.v.size() >= 100) {
        char p99[32];
        std::snprintf(p99, sizeof p99, ", p99 %.*f", decimals, s.percentile(99));
        n += p99;
    }
    std::printf("%-46s %-24s %-6s %-18s %s\n", name, fig, unit, n.c_str(), target);
}
