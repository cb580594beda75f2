// The platform operations on Linux: termios (through the termios2 ioctls, so
// any rate can be set), poll, flock.
#include "serial/platform.h"

#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stop_signal = 0;

// The pass looks at the keyboard every time, so that look must cost next to
// nothing. A watcher thread waits on standard input and marks it `maybe_key`
// when it turns readable; only then does the run ask the input itself. The
// run marks it `no_key` once it finds nothing more to read, and the watcher
// waits again. The watcher never reads: every key is taken by the run, in
// order. Without a watcher the run asks the input on every look; `ending`
// tells the watcher to stop.
enum key_state : int { no_key, maybe_key, ask_always, ending };

struct key_watch {
    std::atomic<int> state{ask_always};
    bool running = false;
    pthread_t thread;
    int wake[2] = {-1, -1}; // a byte on this pipe ends the watcher
};

// Standard input's settings as found, and the keyboard mode the run uses
// (restored on every way out); the watcher of its input.
struct keyboard_settings {
    bool is_terminal = false;
    bool active = false;
    bool input_ended = false; // a pipe or file at its end gives no more keys
    struct termios found;
    struct termios run;
    key_watch watch;
};
keyboard_settings keyboard;

// Standard output as the run writes it. `may_wait`: it may hold a writer up
// (a terminal stopped with Ctrl-S, a pipe nobody reads, a socket); a file or
// /dev/null never does. `own`: a descriptor of the run's own on the same
// terminal or pipe, non-blocking. O_NONBLOCK belongs to the open file, so set
// on standard output itself it would be set for the shell and every other
// process sharing it; an open of its own keeps it to the run. -1 where none
// could be had: poll is then asked for room before each write.
struct console_output {
    bool may_wait = false;
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

// A held write looks at the stop signal and the keyboard this often.
constexpr std::int64_t write_poll_ms = 50;

struct rate_constant {
    std::int32_t rate;
    tcflag_t constant;
};

constexpr rate_constant standard_rates[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},
    {150, B150},       {200, B200},       {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t rate_flag(std::uint32_t rate)
{
    for (const rate_constant& entry : standard_rates)
        if (static_cast<std::uint32_t>(entry.rate) == rate)
            return entry.constant;
    return BOTHER;
}

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

extern "C" void on_stop_signal(int)
{
    stop_signal = 1;
}

// After a stop (Ctrl-Z) and continue, the shell may have put its own
// terminal settings back: the run's keyboard mode is applied again.
extern "C" void on_continue(int)
{
    const int code = errno;
    if (keyboard.active)
        ioctl(STDIN_FILENO, TCSETS, &keyboard.run);
    errno = code;
}

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

void install(int signal_number, void (*handler)(int))
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a signal ends a poll or a sleep at once
    sigaction(signal_number, &action, nullptr);
}

// True once the port takes output. While its output is held (flow control,
// a full queue) it waits in short steps, so that a stop signal or a key ends
// the wait, and never past the deadline. `gone` tells a device that is lost.
bool wait_until_writable(int fd, std::int64_t deadline, bool& gone)
{
    int step_ms = 0; // a first look without waiting
    for (;;) {
        struct pollfd wait_for{fd, POLLOUT, 0};
        const int ready = poll(&wait_for, 1, step_ms);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0) {
            gone = (wait_for.revents & POLLOUT) == 0;
            return !gone;
        }
        const std::int64_t rest = deadline - monotonic_ms();
        if (rest <= 0 || stop_signal != 0 || key_waiting())
            return false;
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
    port.first_byte_wait_ms = 0;
    return true;
}

bool port_setup_queues(port_handle&, std::uint32_t, std::uint32_t)
{
    return true; // the kernel sizes a tty's queues itself
}

bool port_get_state(port_handle& port, line_settings& settings)
{
    struct termios2 native;
    static_assert(sizeof native <= sizeof settings.native);
    if (ioctl(static_cast<int>(port.os), TCGETS2, &native) != 0)
        return false;
    std::memcpy(settings.native, &native, sizeof native);
    settings.baud_rate = native.c_ospeed;
    settings.parity = (native.c_cflag & PARENB) == 0 ? 0 : (native.c_cflag & PARODD) != 0 ? 1 : 2;
    settings.stop_bits = (native.c_cflag & CSTOPB) == 0 ? 0 : 2;
    return true;
}

bool port_set_state(port_handle& port, const line_settings& settings)
{
    // Windows takes a rate as an unsigned number; a "negative" one is refused.
    if (settings.baud_rate == 0 || settings.baud_rate > 0x7FFFFFFFu) {
        errno = EINVAL;
        return false;
    }
    struct termios2 native;
    std::memcpy(&native, settings.native, sizeof native);

    // Raw and byte-transparent, whatever an earlier program left: no echo, no
    // canonical mode, no translation either way, no stripping of the 8th bit,
    // no parity checking or marking, no flow control (XON/XOFF or RTS/CTS),
    // 8 data bits. The modem lines are left as they are.
    native.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                        ICRNL | IUCLC | IXON | IXOFF | IXANY | IMAXBEL);
    native.c_oflag &= ~OPOST;
    native.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    native.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD |
                        (CBAUD << IBSHIFT));
    native.c_cflag |= CS8 | CLOCAL | CREAD;
    if (settings.parity != 0)
        native.c_cflag |= PARENB | (settings.parity == 1 ? PARODD : 0);
    if (settings.stop_bits != 0)
        native.c_cflag |= CSTOPB;
    // Reads never block in the kernel: poll does the waiting.
    native.c_cc[VMIN] = 0;
    native.c_cc[VTIME] = 0;

    const tcflag_t flag = rate_flag(settings.baud_rate);
    native.c_cflag |= flag | (flag << IBSHIFT);
    native.c_ispeed = settings.baud_rate;
    native.c_ospeed = settings.baud_rate;
    const int fd = static_cast<int>(port.os);
    if (ioctl(fd, TCSETS2, &native) != 0)
        return false;

    // The change succeeds when any part of it applies: check the rate took.
    struct termios2 applied;
    if (ioctl(fd, TCGETS2, &applied) != 0)
        return false;
    if (applied.c_ospeed != settings.baud_rate) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool port_get_timeouts(port_handle& port, port_timeouts& timeouts)
{
    timeouts = port_timeouts{};
    if (port.first_byte_wait_ms != 0) {
        timeouts.read_interval = max_dword;
        timeouts.read_multiplier = max_dword;
        timeouts.read_constant = port.first_byte_wait_ms;
    }
    timeouts.write_constant = port.write_wait_ms;
    return true;
}

bool port_set_timeouts(port_handle& port, const port_timeouts& timeouts)
{
    // The one read timing the logger uses: at once with what is queued, else
    // the first byte to come within the constant. Writes are bounded by the
    // constant alone.
    if (timeouts.read_interval != max_dword || timeouts.read_multiplier != max_dword ||
        timeouts.read_constant == 0 || timeouts.read_constant == max_dword ||
        timeouts.write_multiplier != 0 || timeouts.write_constant > 0x7FFFFFFFu) {
        errno = EINVAL;
        return false;
    }
    port.first_byte_wait_ms = timeouts.read_constant;
    port.write_wait_ms = timeouts.write_constant;
    return true;
}

port_read_result port_read(port_handle& port, void* buffer, std::uint32_t wanted)
{
    const int fd = static_cast<int>(port.os);
    // poll returns at once when bytes are queued, else with the first byte
    // to come: one wake-up per arrival and no empty read before it.
    struct pollfd wait_for{fd, POLLIN, 0};
    const int ready = poll(&wait_for, 1, static_cast<int>(port.first_byte_wait_ms));
    if (ready == 0 || (ready < 0 && errno == EINTR))
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

bool port_queued(port_handle& port, std::uint32_t& count)
{
    int queued = 0;
    if (ioctl(static_cast<int>(port.os), FIONREAD, &queued) != 0 || queued < 0)
        return false;
    count = static_cast<std::uint32_t>(queued);
    return true;
}

bool port_wait(port_handle& port, std::uint32_t milliseconds)
{
    // One wake-up: the first byte, a hang-up, a signal or the time.
    struct pollfd wait_for{static_cast<int>(port.os), POLLIN, 0};
    return poll(&wait_for, 1, static_cast<int>(milliseconds)) > 0;
}

bool port_write(port_handle& port, const void* bytes, std::uint32_t count, bool& gone)
{
    gone = false;
    const int fd = static_cast<int>(port.os);
    const auto* next = static_cast<const unsigned char*>(bytes);
    std::uint32_t left = count;
    const std::int64_t deadline = monotonic_ms() + port.write_wait_ms;
    while (left > 0) {
        if (port.write_wait_ms != 0 && !wait_until_writable(fd, deadline, gone))
            return false;
        const ssize_t written = write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR && !stop_requested())
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
    if (!device_path(port_name, path, chosen) || stat(chosen, &port_found) != 0 ||
        stat(file_name, &file_found) != 0)
        return false;
    // A device node names its device by number, whatever its path.
    if (S_ISCHR(port_found.st_mode) && S_ISCHR(file_found.st_mode))
        return port_found.st_rdev == file_found.st_rdev;
    return port_found.st_dev == file_found.st_dev && port_found.st_ino == file_found.st_ino;
}

void sleep_ms(std::uint32_t milliseconds)
{
    struct timespec wait{static_cast<time_t>(milliseconds / 1000),
                         static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&wait, nullptr); // a signal ends it early
}

std::int64_t elapsed_ms()
{
    return monotonic_ms() - program_start_ms;
}

void console_begin()
{
    keep_standard_streams_open();
    // A display line ends in "\r" and a diagnostic may end in no line end at
    // all: at a terminal each must show at once. Where the run writes past
    // the stream, through its own descriptor, the stream holds nothing back
    // either, so everything shows in the order written.
    console.may_wait = output_may_wait();
    if (console.may_wait) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        console.own = open_own_output();
    }
    install(SIGINT, on_stop_signal);
    // The keyboard mode keeps the signal keys: Ctrl-\ ends the run in order
    // too, instead of dumping core with the terminal left without echo.
    install(SIGQUIT, on_stop_signal);
    install(SIGTERM, on_stop_signal);
    install(SIGHUP, on_stop_signal);
    install(SIGCONT, on_continue);
    std::signal(SIGPIPE, SIG_IGN);
}

void console_end()
{
}

std::ptrdiff_t console_write_now(const char* bytes, std::size_t count)
{
    if (!console.may_wait) {
        std::fwrite(bytes, 1, count, stdout);
        return static_cast<std::ptrdiff_t>(count);
    }
    int fd = console.own;
    if (fd < 0) {
        struct pollfd room{STDOUT_FILENO, POLLOUT, 0};
        if (poll(&room, 1, 0) <= 0 || (room.revents & (POLLOUT | POLLERR | POLLHUP)) == 0)
            return 0;
        fd = STDOUT_FILENO; // a write also tells a hang-up or a reader gone
    }
    const ssize_t written = write(fd, bytes, count);
    if (written >= 0)
        return written;
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

bool console_write_all(const char* bytes, std::size_t count)
{
    if (!console.may_wait)
        return std::fwrite(bytes, 1, count, stdout) == count;
    while (count > 0) {
        const ssize_t written = write(STDOUT_FILENO, bytes, count);
        if (written < 0 && errno == EINTR && stop_signal == 0)
            continue; // a continue after Ctrl-Z, not a stop
        if (written <= 0)
            return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

namespace {

void* watch_keyboard(void*)
{
    key_watch& watch = keyboard.watch;
    for (;;) {
        struct pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {watch.wake[0], POLLIN, 0}};
        const int ready = poll(waits, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || waits[0].revents & POLLNVAL)
            break;
        if (waits[1].revents != 0)
            return nullptr;
        int seen = no_key;
        watch.state.compare_exchange_strong(seen, maybe_key, std::memory_order_acq_rel);
        if (seen == ending)
            return nullptr;
        watch.state.wait(maybe_key, std::memory_order_acquire);
    }
    watch.state.store(ask_always, std::memory_order_release);
    return nullptr;
}

void close_wake_pipe(key_watch& watch)
{
    close(watch.wake[0]);
    close(watch.wake[1]);
    watch.wake[0] = watch.wake[1] = -1;
}

// Starts the watcher with every signal blocked, so that a stop signal always
// reaches the run's own thread and ends its waits.
void start_watcher()
{
    key_watch& watch = keyboard.watch;
    watch.state.store(ask_always);
    if (pipe2(watch.wake, O_CLOEXEC) != 0)
        return;
    watch.state.store(maybe_key); // the first look asks the input itself
    sigset_t all;
    sigset_t kept;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &kept);
    watch.running = pthread_create(&watch.thread, nullptr, watch_keyboard, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &kept, nullptr);
    if (!watch.running) {
        watch.state.store(ask_always);
        close_wake_pipe(watch);
    }
}

void stop_watcher()
{
    key_watch& watch = keyboard.watch;
    if (!watch.running)
        return;
    watch.running = false;
    const char end = 0;
    if (write(watch.wake[1], &end, 1) == 1) {
        watch.state.store(ending);
        watch.state.notify_one();
        pthread_join(watch.thread, nullptr);
    } else {
        pthread_detach(watch.thread);
    }
    close_wake_pipe(watch);
    watch.state.store(ask_always);
}

} // namespace

void keyboard_begin()
{
    keyboard.is_terminal = isatty(STDIN_FILENO) != 0;
    if (keyboard.is_terminal && ioctl(STDIN_FILENO, TCGETS, &keyboard.found) == 0) {
        keyboard.run = keyboard.found;
        keyboard.run.c_lflag &= ~(ICANON | ECHO);
        keyboard.run.c_cc[VMIN] = 0;
        keyboard.run.c_cc[VTIME] = 0;
        keyboard.active = ioctl(STDIN_FILENO, TCSETS, &keyboard.run) == 0;
    }
    start_watcher();
}

void keyboard_end()
{
    stop_watcher();
    if (!keyboard.active)
        return;
    keyboard.active = false;
    ioctl(STDIN_FILENO, TCSETS, &keyboard.found);
}

bool key_waiting()
{
    key_watch& watch = keyboard.watch;
    if (keyboard.input_ended || watch.state.load(std::memory_order_acquire) == no_key)
        return false;
    struct pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, 0);
    if (ready == 0) {
        // Nothing more to read: the watcher (if it still watches) waits for
        // the next key.
        int seen = maybe_key;
        if (watch.state.compare_exchange_strong(seen, no_key, std::memory_order_acq_rel))
            watch.state.notify_one();
    }
    if (ready <= 0)
        return false;
    if ((input.revents & POLLNVAL) != 0) {
        keyboard.input_ended = true;
        return false;
    }
    return (input.revents & (POLLIN | POLLHUP)) != 0;
}

int key_read()
{
    unsigned char key = 0;
    const ssize_t count = read(STDIN_FILENO, &key, 1);
    if (count == 1)
        return key;
    if (count == 0 || (errno != EAGAIN && errno != EINTR))
        keyboard.input_ended = !keyboard.is_terminal;
    return -1;
}

bool stop_requested()
{
    return stop_signal != 0;
}
