// The serial port on Linux: opening and locking it (flock), reads and writes
// with poll, and the port's name; line_posix.cpp sets the line.
#include "serial/platform.h"

#include "system/clock.h"
#include "system/deadline.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace imutap {

namespace {

// A held write looks at the stop signal and the keyboard this often.
constexpr std::int64_t write_poll_ms = 50;

// "COM1" to "COM9" are the first nine serial ports; any name with a '/' is a
// device path. Every other name is a port that does not exist.
bool device_path(const char* name, char (&path)[32], const char*& chosen)
{
    if (std::strchr(name, '/') != nullptr) {
        chosen = name;
        return true;
    }
    if (std::strncmp(name, "COM", 3) == 0 && name[3] >= '1' && name[3] <= '9' && name[4] == '\0') {
        std::snprintf(path, sizeof path, "/dev/ttyS%d", name[3] - '1');
        chosen = path;
        return true;
    }
    return false;
}

// A path's directory (".", or "/" for a name at the root) and its last part.
struct path_parts {
    std::string directory;
    std::string last;
};

path_parts parts_of(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr)
        return {".", path};
    if (slash == path)
        return {"/", slash + 1};
    return {std::string(path, slash), slash + 1};
}

// True when both paths name the same entry of the same directory, whether
// or not that entry exists.
bool same_place(const char* one, const char* other)
{
    if (std::strcmp(one, other) == 0)
        return true;
    const path_parts first = parts_of(one);
    const path_parts second = parts_of(other);
    struct stat first_directory;
    struct stat second_directory;
    return !first.last.empty() && first.last != "." && first.last != ".." &&
           first.last == second.last && stat(first.directory.c_str(), &first_directory) == 0 &&
           stat(second.directory.c_str(), &second_directory) == 0 &&
           first_directory.st_dev == second_directory.st_dev &&
           first_directory.st_ino == second_directory.st_ino;
}

bool device_gone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE;
}

bool fail_keeping_errno(int fd)
{
    const int code = errno;
    close(fd);
    errno = code;
    return false;
}

// True once the port takes output. While its output is held (flow control,
// a full queue) it waits in short steps, so that the run's end (a stop
// signal, `q`) ends the wait, and never past the deadline. `gone` tells a
// device that is lost.
bool wait_until_writable(int fd, deadline until, const interruption& stop, bool& gone)
{
    int step_ms = 0; // a first look without waiting
    for (;;) {
        struct pollfd wait_for {
            fd, POLLOUT, 0
        };
        const int ready = poll(&wait_for, 1, step_ms);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0) {
            gone = (wait_for.revents & POLLOUT) == 0;
            return !gone;
        }
        const std::int64_t now = elapsed_ms();
        if (deadline_passed(until, now) || run_ended(stop) || keyboard_ends_run(stop))
            return false;
        const std::int64_t rest = deadline_left_ms(until, now);
        step_ms = static_cast<int>(rest < write_poll_ms ? rest : write_poll_ms);
    }
}

} // namespace

bool port_create(const char* name, port_handle& port)
{
    char path[32];
    const char* chosen = nullptr;
    if (!device_path(name, path, chosen)) {
        errno = ENOENT;
        return false;
    }
    // Non-blocking, so that the open never waits for a carrier.
    const int fd = open(chosen, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Exclusive use: flock holds against every other logger, root included;
    // TIOCEXCL keeps other programs from opening the device at all.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0)
        return fail_keeping_errno(fd);
    struct termios2 settings;
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return fail_keeping_errno(fd);
    settings.c_cflag |= CLOCAL | CREAD;
    if (ioctl(fd, TCSETS2, &settings) != 0)
        return fail_keeping_errno(fd);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail_keeping_errno(fd);
    port.os = fd;
    port.timing = port_timing{};
    return true;
}

port_read_result port_read(port_handle& port, void* buffer, std::uint32_t wanted)
{
    const int fd = static_cast<int>(port.os);
    // poll returns at once when bytes are queued, else with the first byte
    // to come: one wake-up per arrival and no empty read before it.
    struct pollfd wait_for {
        fd, POLLIN, 0
    };
    const int ready = poll(&wait_for, 1, static_cast<int>(port.timing.first_byte_wait_ms));
    if (ready == 0)
        return {0, false, port.timing.first_byte_wait_ms};
    if (ready < 0 && errno == EINTR)
        return {0, false};
    if (ready < 0 || (wait_for.revents & POLLNVAL) != 0)
        return {0, true};
    const ssize_t count = read(fd, buffer, wanted);
    if (count > 0)
        return {static_cast<std::uint32_t>(count), false};
    // Readable (or hung up) and yet nothing to read: the device has gone.
    if (count == 0)
        return {0, true};
    return {0, errno != EAGAIN && errno != EINTR};
}

port_read_result port_read_packet(port_handle& port, void* buffer, std::uint32_t wanted)
{
    // One system call a packet: the tty waits for the first byte itself.
    // Made directly: once the keyboard watcher runs, libc's read() wraps
    // every call in thread-cancellation bookkeeping, which the logger, never
    // cancelling a thread, has no use for.
    const int fd = static_cast<int>(port.os);
    const auto count = static_cast<ssize_t>(syscall(SYS_read, fd, buffer, wanted));
    if (count > 0)
        return {static_cast<std::uint32_t>(count), false};
    if (count < 0)
        return {0, errno != EAGAIN && errno != EINTR};
    // Nothing within the wait, or a device that hung up: ask without waiting.
    struct pollfd look {
        fd, POLLIN, 0
    };
    if (poll(&look, 1, 0) > 0 && (look.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        return {0, true};
    return {0, false, port.timing.packet_wait_ms};
}

bool port_wait(port_handle& port, std::uint32_t milliseconds)
{
    // One wake-up: the first byte, a hang-up, a signal or the time.
    struct pollfd wait_for {
        static_cast<int>(port.os), POLLIN, 0
    };
    return poll(&wait_for, 1, static_cast<int>(milliseconds)) > 0;
}

bool port_write(port_handle& port, const void* bytes, std::uint32_t count, bool& gone)
{
    gone = false;
    const int fd = static_cast<int>(port.os);
    const auto* next = static_cast<const unsigned char*>(bytes);
    std::uint32_t left = count;
    const deadline until = deadline_after(elapsed_ms(), port.timing.write_wait_ms);
    while (left > 0) {
        if (port.timing.write_wait_ms != 0 && !wait_until_writable(fd, until, port.stop, gone))
            return false;
        const ssize_t written = write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR && !run_ended(port.stop))
                continue;
            gone = device_gone(errno);
            return false;
        }
        next += written;
        left -= static_cast<std::uint32_t>(written);
    }
    return true;
}

bool port_close(port_handle& port)
{
    const int fd = static_cast<int>(port.os);
    port.os = -1;
    if (fd < 0)
        return true;
    // The exclusive flag outlives this open when another program (the
    // emulated unit) holds the device too: take it back before closing.
    ioctl(fd, TIOCNXCL);
    return close(fd) == 0;
}

int last_error()
{
    return errno;
}

bool port_names_file(const char* port_name, const char* file_name)
{
    char path[32];
    const char* chosen = nullptr;
    struct stat port_found;
    struct stat file_found;
    if (!device_path(port_name, path, chosen))
        return false;
    // A port that is not there yet (an adapter still to be plugged in) is
    // named by its place: the same last part in the same directory.
    if (same_place(chosen, file_name))
        return true;
    if (stat(chosen, &port_found) != 0 || stat(file_name, &file_found) != 0)
        return false;
    // A device node names its device by number, whatever its path.
    if (S_ISCHR(port_found.st_mode) && S_ISCHR(file_found.st_mode))
        return port_found.st_rdev == file_found.st_rdev;
    return port_found.st_dev == file_found.st_dev && port_found.st_ino == file_found.st_ino;
}

} // namespace imutap
