// The signal handlers and masks.
#include "signals.h"

namespace imutap_emu {

namespace {

// The only mutable global: written by the handler, read and cleared by the main loop
// while the signals are blocked.
volatile std::sig_atomic_t stop_signal = 0;

void on_stop_signal(int number)
{
    stop_signal = number;
}

void on_child_signal(int) {}

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

} // namespace

void install_signal_handlers(signal_masks& masks)
{
    sigset_t handled;
    sigemptyset(&handled);
    for (int number : stop_signals)
        sigaddset(&handled, number);
    sigaddset(&handled, SIGCHLD);

    struct sigaction action {};
    action.sa_mask = handled;
    for (int number : stop_signals) {
        struct sigaction previous {};
        sigaction(number, nullptr, &previous);
        if (previous.sa_handler == SIG_IGN && number != SIGTERM)
            continue; // started with it ignored (nohup): leave it so
        action.sa_handler = on_stop_signal;
        sigaction(number, &action, nullptr);
    }
    action.sa_handler = on_child_signal;
    action.sa_flags = SA_NOCLDSTOP;
    sigaction(SIGCHLD, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    sigprocmask(SIG_BLOCK, &handled, &masks.original_mask);
    masks.wait_mask = masks.original_mask;
    for (int number : stop_signals)
        sigdelset(&masks.wait_mask, number);
    sigdelset(&masks.wait_mask, SIGCHLD);
}

int take_stop_signal()
{
    int number = stop_signal;
    stop_signal = 0;
    return number;
}

void reset_signals_for_child(const signal_masks& masks)
{
    for (int number : stop_signals) {
        struct sigaction current {};
        sigaction(number, nullptr, &current);
        if (current.sa_handler == on_stop_signal)
            std::signal(number, SIG_DFL);
    }
    std::signal(SIGCHLD, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    sigprocmask(SIG_SETMASK, &masks.original_mask, nullptr);
}

} // namespace imutap_emu
