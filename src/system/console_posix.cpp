// Standard output, the clock and the sleeps on Linux.
#include "system/console_platform.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imutap {

namespace {

// Standard output as the run writes it. `may_wait`: it may hold a writer up
// (a terminal stopped with Ctrl-S, a pipe nobody reads, a socket); a file or
// /dev/null never does. `own`: a descriptor of the run's own on the same
// terminal or pipe, non-blocking. O_NONBLOCK belongs to the open file, so set
// on standard output itself it would be set for the shell and every other
// process sharing it; an open of its own keeps it to the run. -1 where none
// could be had: poll is then asked for room before each write.
struct console_output {
    bool may_wait = false;
    bool terminal = false;
    int own = -1;
};
console_output console;

std::int64_t monotonic_ms()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

const std::int64_t program_start_ms = monotonic_ms();

// A supervisor may start the logger with standard input, output or error
// closed. The log file or the port would then take that number, and the
// console's lines would go into it: each closed one is opened on /dev/null.
void keep_standard_streams_open()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

// Whether standard output may hold a writer up.
bool output_may_wait()
{
    struct stat found;
    if (fstat(STDOUT_FILENO, &found) != 0 || S_ISREG(found.st_mode) || S_ISBLK(found.st_mode))
        return false;
    return !S_ISCHR(found.st_mode) || isatty(STDOUT_FILENO) != 0;
}

// Opens standard output's terminal or pipe once more, non-blocking. Not a
// pty's master side: opening its path again would make a new pty.
int open_own_output()
{
    struct stat found;
    int pty_number = 0;
    if (fstat(STDOUT_FILENO, &found) != 0 || !(S_ISCHR(found.st_mode) || S_ISFIFO(found.st_mode)) ||
        ioctl(STDOUT_FILENO, TIOCGPTN, &pty_number) == 0)
        return -1;
    const int own = open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat opened;
    if (own >= 0 && (fstat(own, &opened) != 0 || opened.st_dev != found.st_dev ||
                     opened.st_ino != found.st_ino || opened.st_rdev != found.st_rdev)) {
        close(own);
        return -1;
    }
    return own;
}

} // namespace

void console_begin()
{
    keep_standard_streams_open();
    // A display line ends in "\r" and a diagnostic may end in no line end at
    // all: at a terminal each must show at once. Where the run writes past
    // the stream, through its own descriptor, the stream holds nothing back
    // either, so everything shows in the order written.
    console.may_wait = output_may_wait();
    console.terminal = isatty(STDOUT_FILENO) != 0;
    if (console.may_wait) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        console.own = open_own_output();
    }
    stop_handlers_begin();
}

// Nothing to do on Linux: no close event waits for the run.
void console_end() {}

std::ptrdiff_t console_write_now(const char* bytes, std::size_t count)
{
    if (!console.may_wait) {
        std::fwrite(bytes, 1, count, stdout);
        return static_cast<std::ptrdiff_t>(count);
    }
    int fd = console.own;
    if (fd < 0) {
        struct pollfd room {
            STDOUT_FILENO, POLLOUT, 0
        };
        if (poll(&room, 1, 0) <= 0 || (room.revents & (POLLOUT | POLLERR | POLLHUP)) == 0)
            return 0;
        fd = STDOUT_FILENO; // a write also tells a hang-up or a reader gone
    }
    const ssize_t written = write(fd, bytes, count);
    if (written >= 0)
        return written;
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

bool console_writes_at_once()
{
    return console.may_wait;
}

bool console_is_terminal()
{
    return console.terminal;
}

bool console_write_all(const char* bytes, std::size_t count)
{
    if (!console.may_wait)
        return std::fwrite(bytes, 1, count, stdout) == count;
    while (count > 0) {
        const ssize_t written = write(STDOUT_FILENO, bytes, count);
        if (written < 0 && errno == EINTR && !stop_requested())
            continue; // a continue after Ctrl-Z, not a stop
        if (written <= 0)
            return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

void sleep_ms(std::uint32_t milliseconds)
{
    struct timespec wait {
        static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L
    };
    nanosleep(&wait, nullptr); // a signal ends it early
}

std::int64_t elapsed_ms()
{
    return monotonic_ms() - program_start_ms;
}

} // namespace imutap
