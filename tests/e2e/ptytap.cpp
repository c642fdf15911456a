// ptytap: a pseudo-terminal that relays every byte to a serial device and
// logs both directions, so a test can see exactly what a program wrote to
// its port.
//
//   ptytap DEVICE LINK LOG
//
// Opens a new pseudo-terminal, points the symbolic link LINK at its terminal
// side, and relays between its master side and DEVICE until SIGTERM or
// SIGINT. Bytes written by the program on LINK are appended to LOG.out, bytes
// from DEVICE to LOG.in, each as they pass. Prints the terminal side's path
// once ready.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "ptytap: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

void makeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        die("tcgetattr");
    cfmakeraw(&t);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        die("tcsetattr");
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

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: ptytap DEVICE LINK LOG\n");
        return 2;
    }
    const std::string device = argv[1], link = argv[2], log = argv[3];

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        die("posix_openpt");
    const char *slaveName = ptsname(master);
    if (!slaveName)
        die("ptsname");
    const std::string slave = slaveName;
    // Holding the terminal side open keeps the master readable while the
    // program under test closes and reopens its port.
    const int keeper = open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (keeper < 0)
        die("open terminal side");
    makeRaw(keeper);

    const int dev = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (dev < 0)
        die("open device");
    makeRaw(dev);

    const int out = open((log + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    const int in = open((log + ".in").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    if (out < 0 || in < 0)
        die("open log");

    unlink(link.c_str());
    if (symlink(slave.c_str(), link.c_str()) != 0)
        die("symlink");

    struct sigaction sa{};
    sa.sa_handler = requestStop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    std::printf("%s\n", slave.c_str());
    std::fflush(stdout);

    char buf[4096];
    while (!stopRequested) {
        pollfd fds[2] = {{master, POLLIN, 0}, {dev, POLLIN, 0}};
        if (poll(fds, 2, 200) < 0) {
            if (errno == EINTR)
                continue;
            die("poll");
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) {
                writeAll(out, buf, n);
                writeAll(dev, buf, n);
            }
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = read(dev, buf, sizeof buf);
            if (n > 0) {
                writeAll(in, buf, n);
                writeAll(master, buf, n);
            }
        }
        if (fds[1].revents & (POLLHUP | POLLERR)) {
            std::fprintf(stderr, "ptytap: device hung up\n");
            break;
        }
    }
    unlink(link.c_str());
    return 0;
}
