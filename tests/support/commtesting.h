#pragma once

#include "commerror.h"

#include <functional>

// The number of the CommError that `operation` throws; 0 if it throws none.
inline int thrownNumber(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const CommError &e) {
        return e.number();
    }
    return 0;
}
