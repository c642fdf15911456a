// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a crash the fuzzer keeps; assert() would vanish in
// release builds.
#define FUZZ_CHECK(condition)                                                                        \
    ((condition) ? void() : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))
