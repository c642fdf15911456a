// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>

#include <fcntl.h>
#include <unistd.h>

// lrzsz at the far end of the line, its standard input and output on `fd`
// (a pseudo-terminal's master, or the TCP connection ser2net makes to the device).
inline void startFarEnd(QProcess &far, int fd, const QString &program, const QStringList &args, const QString &folder)
{
    far.setWorkingDirectory(folder);
    far.setChildProcessModifier([fd] {
        ::dup2(fd, STDIN_FILENO);
        ::dup2(fd, STDOUT_FILENO);
        ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) & ~O_NONBLOCK);
    });
    far.start(QStandardPaths::findExecutable(program), args);
}

// Takes connections without reading them, so a child can have the socket.
class DeviceServer : public QTcpServer
{
public:
    QList<int> sockets;
    ~DeviceServer() override
    {
        for (int fd : sockets)
            ::close(int(fd));
    }

protected:
    void incomingConnection(qintptr fd) override { sockets.append(int(fd)); }
};
