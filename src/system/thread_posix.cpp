// Threads and wake-ups on Linux: pthreads and an eventfd.
#include "system/thread_platform.h"

#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace imutap {

namespace {

struct thread_start_args {
    thread_body body;
    void* context;
};

void* run_body(void* given)
{
    const thread_start_args args = *static_cast<thread_start_args*>(given);
    delete static_cast<thread_start_args*>(given);
    args.body(args.context);
    return nullptr;
}

} // namespace

bool thread_start(std::intptr_t& thread, thread_body body, void* context)
{
    auto* args = new thread_start_args{body, context};
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    pthread_t started;
    const bool running = pthread_create(&started, nullptr, run_body, args) == 0;
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (!running) {
        delete args;
        return false;
    }
    thread = static_cast<std::intptr_t>(started);
    return true;
}

void thread_join(std::intptr_t thread)
{
    pthread_join(static_cast<pthread_t>(thread), nullptr);
}

bool wake_open(std::intptr_t& wake)
{
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    wake = fd;
    return fd >= 0;
}

void wake_send(std::intptr_t wake)
{
    const std::uint64_t one = 1;
    if (write(static_cast<int>(wake), &one, sizeof one) != sizeof one)
        return; // the counter is full: a wake-up waits already
}

void wake_wait(std::intptr_t wake, std::uint32_t milliseconds)
{
    struct pollfd waiting {
        static_cast<int>(wake), POLLIN, 0
    };
    const int timeout = milliseconds == wake_wait_forever ? -1 : static_cast<int>(milliseconds);
    if (poll(&waiting, 1, timeout) > 0) {
        std::uint64_t count = 0;
        if (read(static_cast<int>(wake), &count, sizeof count) != sizeof count)
            return; // taken already
    }
}

void wake_close(std::intptr_t wake)
{
    close(static_cast<int>(wake));
}

} // namespace imutap
