// The stop signals on Linux: the handlers that set the stop flag, and the signals
// the run ignores.
#include "system/console_platform.h"
#include "system/keyboard_posix.h"

#include <csignal>
#include <cstring>

namespace imutap {

namespace {

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop_signal(int)
{
    stop_signal = 1;
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

} // namespace

void stop_handlers_begin()
{
    install(SIGINT, on_stop_signal);
    // The keyboard mode keeps the signal keys: Ctrl-\ ends the run in order
    // too, instead of dumping core with the terminal left without echo.
    install(SIGQUIT, on_stop_signal);
    install(SIGTERM, on_stop_signal);
    install(SIGHUP, on_stop_signal);
    install(SIGCONT, on_continue);
    std::signal(SIGPIPE, SIG_IGN);
    // A write past a file-size limit fails like a full disk instead of
    // killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    // A run in the background never stops itself: the terminal's settings
    // are changed only in the foreground, and keys read only there (these
    // guard the moment the foreground changes).
    std::signal(SIGTTOU, SIG_IGN);
    std::signal(SIGTTIN, SIG_IGN);
}

bool stop_requested()
{
    return stop_signal != 0;
}

} // namespace imutap
