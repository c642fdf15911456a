// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

// Marks a back end's own call into its device (a port, a socket). Errors the
// device reports while such a call runs are answered by the call's result;
// only those arriving from the event loop mean the device is gone.
class InsideCall
{
public:
    explicit InsideCall(int &depth) : m_depth(depth) { ++m_depth; }
    ~InsideCall() { --m_depth; }
    Q_DISABLE_COPY_MOVE(InsideCall)

private:
    int &m_depth;
};
