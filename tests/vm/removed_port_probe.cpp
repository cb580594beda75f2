// What a serial device does once its driver has removed it: opens the port
// given, waits (without reading, so that another program there keeps every
// byte) until the device hangs up, then tries each call a logger makes and
// prints one line for each: the call, its result and its error name. The
// descriptor is closed only once standard input ends, so that the device
// can be plugged in again while it is still held.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int hang_up_wait_ms = 120'000;

void report(const char* call, long result)
{
    if (result < 0)
        std::printf("%s: %ld %s\n", call, result, strerrorname_np(errno));
    else
        std::printf("%s: %ld\n", call, result);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: removed-port-probe DEVICE\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        report("open", -1);
        return 1;
    }
    std::printf("open: ok\n");
    std::fflush(stdout);

    // No events asked for: only a hang-up or an error ends the wait.
    pollfd watch{fd, 0, 0};
    const int woken = poll(&watch, 1, hang_up_wait_ms);
    if (woken != 1) {
        std::printf("no hang-up within %d ms\n", hang_up_wait_ms);
        return 1;
    }
    pollfd look{fd, POLLIN | POLLOUT, 0};
    poll(&look, 1, 0);
    std::printf("poll:%s%s%s%s\n", (look.revents & POLLIN) ? " POLLIN" : "",
                (look.revents & POLLOUT) ? " POLLOUT" : "",
                (look.revents & POLLERR) ? " POLLERR" : "",
                (look.revents & POLLHUP) ? " POLLHUP" : "");

    unsigned char buffer[64];
    report("read", read(fd, buffer, sizeof buffer));
    report("write", write(fd, "P", 1));
    termios settings{};
    report("tcgetattr", tcgetattr(fd, &settings));
    report("tcsetattr", tcsetattr(fd, TCSANOW, &settings));
    report("tcflush", tcflush(fd, TCIOFLUSH));
    int waiting = 0;
    report("FIONREAD", ioctl(fd, FIONREAD, &waiting));
    int lines = 0;
    report("TIOCMGET", ioctl(fd, TIOCMGET, &lines));
    std::fflush(stdout);

    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    report("close", close(fd));
    return 0;
}
