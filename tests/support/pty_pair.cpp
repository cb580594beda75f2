#include "pty_pair.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

pty_pair open_pty_pair()
{
    pty_pair pty;
    char name[256];
    struct termios raw;
    cfmakeraw(&raw);
    if (openpty(&pty.master, &pty.held_slave, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    pty.slave_path = name;
    return pty;
}

void close_pty_pair(pty_pair& pty)
{
    if (pty.master >= 0)
        close(pty.master);
    if (pty.held_slave >= 0)
        close(pty.held_slave);
    pty.master = pty.held_slave = -1;
}

void write_all(int fd, const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error("write to pty failed");
        done += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> read_for(int fd, int wait_ms, std::size_t at_most)
{
    std::vector<std::uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (got.size() < at_most) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        std::uint8_t buffer[4096];
        const std::size_t want = std::min(sizeof buffer, at_most - got.size());
        const ssize_t n = read(fd, buffer, want);
        if (n <= 0)
            break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}
