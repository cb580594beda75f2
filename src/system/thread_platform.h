// A thread of the program's own, and a wake-up that one thread sends and
// another waits for. thread_posix.cpp and thread_win32.cpp each provide all
// of it for their system.
#pragma once

#include <cstdint>

namespace imutap {

using thread_body = void (*)(void* context);

// Starts `body(context)` on a new thread, on Linux with every signal
// blocked, so that the stop signals always reach the run's own thread;
// false when the system refused.
bool thread_start(std::intptr_t& thread, thread_body body, void* context);
// Waits for the thread's end.
void thread_join(std::intptr_t thread);

// A wake-up; false when the system refused.
bool wake_open(std::intptr_t& wake);
void wake_send(std::intptr_t wake);
// Waits until a wake-up comes (one sent before the wait ends it at once) or
// `milliseconds` have passed; wake_wait_forever: only a wake-up ends it.
constexpr std::uint32_t wake_wait_forever = UINT32_MAX;
void wake_wait(std::intptr_t wake, std::uint32_t milliseconds);
void wake_close(std::intptr_t wake);

} // namespace imutap
