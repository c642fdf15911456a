// ptytap DEVICE LINK LOG: a new pseudo-terminal, LINK pointing at its terminal
// side, relayed to DEVICE until killed. What the program on LINK writes is
// appended to LOG.out, what DEVICE answers to LOG.in, as it passes.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "ptytap: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

int openRaw(const std::string &path, int flags)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | flags);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        die(path.c_str());
    cfmakeraw(&t);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        die("tcsetattr");
    return fd;
}

void writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            die("write");
        }
        data += n;
        size -= n;
    }
}

// Copies what is ready on FROM to the log and to TO.
void relay(const pollfd &from, int log, int to)
{
    char buf[4096];
    if (!(from.revents & POLLIN))
        return;
    const ssize_t n = read(from.fd, buf, sizeof buf);
    if (n > 0) {
        writeAll(log, buf, n);
        writeAll(to, buf, n);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: ptytap DEVICE LINK LOG\n");
        return 2;
    }
    const std::string device = argv[1], link = argv[2], log = argv[3];

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    const char *slave = master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ? nullptr : ptsname(master);
    if (!slave)
        die("posix_openpt");
    // Held open so the master stays readable while the program reopens its port.
    openRaw(slave, 0);
    const int dev = openRaw(device, O_NONBLOCK);

    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_APPEND;
    const int out = open((log + ".out").c_str(), flags, 0644), in = open((log + ".in").c_str(), flags, 0644);
    if (out < 0 || in < 0)
        die("open log");

    unlink(link.c_str());
    if (symlink(slave, link.c_str()) != 0)
        die("symlink");

    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {dev, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            die("poll");
        relay(fds[0], out, dev);
        relay(fds[1], in, master);
        if (fds[1].revents & (POLLHUP | POLLERR)) {
            std::fprintf(stderr, "ptytap: device hung up\n");
            return 0;
        }
    }
}
