// The keyboard on Linux: the keyboard's terminal mode, its watcher thread, and
// the keyboard mode applied again after a continue. The keyboard is the run's only
// while its process group is the terminal's foreground: a run started in the
// background (or sent there with Ctrl-Z and bg) reads no keys and leaves the
// terminal's settings alone, and takes the keyboard once it is brought to
// the foreground.
#include "system/keyboard_posix.h"
#include "system/console_platform.h"

#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace imutap {

namespace {

// Set by a continue: the run looks at once whether it is in the foreground.
volatile std::sig_atomic_t continued = 0;

// In the background the watcher looks this often whether the run has been
// brought to the foreground (a job brought back with fg gets no signal).
constexpr int background_look_ms = 200;

// The pass looks at the keyboard every time, so that look must cost next to
// nothing. A watcher thread waits on standard input and marks it `maybe_key`
// when it turns readable; only then does the run ask the input itself. The
// run marks it `no_key` once it finds nothing more to read, and the watcher
// waits again. The watcher never reads: every key is taken by the run, in
// order. Without a watcher the run asks the input on every look; `ending`
// tells the watcher to stop.
enum key_state : int {
    no_key,
    maybe_key,
    ask_always,
    ending
};

struct key_watch {
    std::atomic<int> state{ask_always};
    bool running = false;
    pthread_t thread;
    int wake[2] = {-1, -1}; // a byte on this pipe: 0 ends the watcher, 1 has it look again
};

// Standard input's settings as found when the run first had the keyboard,
// and the keyboard mode the run uses (the settings found are put back on
// every way out, when the run has the keyboard then); the watcher of its
// input.
struct keyboard_settings {
    bool is_terminal = false;
    bool foreground = true; // keys may be read: not a terminal, or the run's process group has it
    bool found_taken = false;
    bool active = false; // the run's keyboard mode is applied
    bool input_ended = false; // a pipe or file at its end gives no more keys
    struct termios found;
    struct termios run;
    key_watch watch;
};
keyboard_settings keyboard;

// True unless standard input is a terminal whose foreground is another
// process group: the run's own terminal with the run in the background. A
// terminal that is not the run's controlling one has no foreground for it.
bool in_foreground()
{
    const pid_t owner = tcgetpgrp(STDIN_FILENO);
    return owner <= 0 || owner == getpgrp();
}

// In the foreground the watcher waits for input; in the background it waits
// only to look again whether the run has the foreground, and then hands that
// to the run as if a key were waiting.
void* watch_keyboard(void*)
{
    key_watch& watch = keyboard.watch;
    for (;;) {
        const bool foreground = !keyboard.is_terminal || in_foreground();
        struct pollfd waits[2] = {{STDIN_FILENO, static_cast<short>(foreground ? POLLIN : 0), 0},
                                  {watch.wake[0], POLLIN, 0}};
        const int ready = poll(waits, 2, foreground ? -1 : background_look_ms);
        if ((ready < 0 && errno == EINTR) || (ready == 0 && !in_foreground()))
            continue;
        if (ready < 0 || waits[0].revents & POLLNVAL)
            break;
        if (waits[1].revents != 0) {
            char byte = 0;
            if (read(watch.wake[0], &byte, 1) != 1 || byte == 0)
                return nullptr;
            continue;
        }
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
    sigset_t saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    watch.running = pthread_create(&watch.thread, nullptr, watch_keyboard, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
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

// Takes the keyboard or gives it up as the run's process group gains or
// loses the terminal's foreground. The settings are found the first time the
// run has the foreground; in the background the shell sets the terminal as
// it wants, and the run leaves it alone.
void follow_foreground()
{
    continued = 0;
    if (!keyboard.is_terminal)
        return;
    const bool foreground = in_foreground();
    if (foreground == keyboard.foreground)
        return;
    keyboard.foreground = foreground;
    if (!foreground) {
        keyboard.active = false;
        // A watcher waiting for keys now waits for the foreground instead.
        const char look = 1;
        if (keyboard.watch.running && write(keyboard.watch.wake[1], &look, 1) != 1)
            keyboard.watch.state.store(ask_always);
        return;
    }
    if (!keyboard.found_taken) {
        if (ioctl(STDIN_FILENO, TCGETS, &keyboard.found) != 0)
            return;
        keyboard.found_taken = true;
        keyboard.run = keyboard.found;
        keyboard.run.c_lflag &= ~(ICANON | ECHO);
        keyboard.run.c_cc[VMIN] = 0;
        keyboard.run.c_cc[VTIME] = 0;
    }
    keyboard.active = ioctl(STDIN_FILENO, TCSETS, &keyboard.run) == 0;
}

} // namespace

// After a stop (Ctrl-Z) and continue, the shell may have put its own
// terminal settings back: the run's keyboard mode is applied again, when
// the run is continued in the foreground (fg), not in the background (bg).
extern "C" void on_continue(int)
{
    const int code = errno;
    if (keyboard.active && in_foreground())
        ioctl(STDIN_FILENO, TCSETS, &keyboard.run);
    continued = 1;
    errno = code;
}

void keyboard_begin()
{
    keyboard.is_terminal = isatty(STDIN_FILENO) != 0;
    keyboard.foreground = false;
    follow_foreground();
    keyboard.foreground = keyboard.foreground || !keyboard.is_terminal;
    start_watcher();
}

void keyboard_end()
{
    stop_watcher();
    // Ended in the background (a stop signal after bg): the shell has the
    // terminal and its own settings on it.
    if (!keyboard.active || !in_foreground())
        return;
    keyboard.active = false;
    ioctl(STDIN_FILENO, TCSETS, &keyboard.found);
}

bool key_waiting()
{
    key_watch& watch = keyboard.watch;
    if (continued != 0)
        follow_foreground();
    if (keyboard.input_ended || watch.state.load(std::memory_order_acquire) == no_key)
        return false;
    if (keyboard.is_terminal) {
        follow_foreground();
        if (!keyboard.foreground) {
            // Keys typed now are the shell's: the watcher looks again later.
            int seen = maybe_key;
            if (watch.state.compare_exchange_strong(seen, no_key, std::memory_order_acq_rel))
                watch.state.notify_one();
            return false;
        }
    }
    struct pollfd input {
        STDIN_FILENO, POLLIN, 0
    };
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

} // namespace imutap
