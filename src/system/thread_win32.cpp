// Threads and wake-ups on Windows: CreateThread and an auto-reset event.
#include "system/thread_platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace imutap {

namespace {

struct thread_start_args {
    thread_body body;
    void* context;
};

DWORD WINAPI run_body(LPVOID given)
{
    const thread_start_args args = *static_cast<thread_start_args*>(given);
    delete static_cast<thread_start_args*>(given);
    args.body(args.context);
    return 0;
}

HANDLE handle_of(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

bool thread_start(std::intptr_t& thread, thread_body body, void* context)
{
    auto* args = new thread_start_args{body, context};
    const HANDLE started = CreateThread(nullptr, 0, run_body, args, 0, nullptr);
    if (started == nullptr) {
        delete args;
        return false;
    }
    thread = reinterpret_cast<std::intptr_t>(started);
    return true;
}

void thread_join(std::intptr_t thread)
{
    WaitForSingleObject(handle_of(thread), INFINITE);
    CloseHandle(handle_of(thread));
}

bool wake_open(std::intptr_t& wake)
{
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    wake = reinterpret_cast<std::intptr_t>(event);
    return event != nullptr;
}

void wake_send(std::intptr_t wake)
{
    SetEvent(handle_of(wake));
}

void wake_wait(std::intptr_t wake, std::uint32_t milliseconds)
{
    WaitForSingleObject(handle_of(wake),
                        milliseconds == wake_wait_forever ? INFINITE : milliseconds);
}

void wake_close(std::intptr_t wake)
{
    CloseHandle(handle_of(wake));
}

} // namespace imutap
