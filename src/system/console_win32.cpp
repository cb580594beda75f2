// The console and the process on Windows: standard output, the console
// control handler, the clock, and standard input read by one helper thread.
#include "system/console_platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <cstdio>

namespace imutap {

namespace {

// Set by the console control handler; `wake` ends a sleep at once, and
// `log_closed` lets the handler of a close event return (and the process
// die) only once the run has closed its log file.
struct stop_signals {
    std::atomic<bool> requested{false};
    HANDLE wake = nullptr;
    HANDLE log_closed = nullptr;
};
stop_signals stop;

// Standard output is a console, written unbuffered.
bool output_is_console = false;

// How long a close, logoff or shutdown event waits for the log file; the
// system ends the process a few seconds after the event in any case.
constexpr DWORD close_event_wait_ms = 4000;

// Standard input's console mode as found, restored by keyboard_end.
struct keyboard_settings {
    HANDLE input = nullptr;
    bool is_console = false;
    bool active = false;
    DWORD found = 0;
};
keyboard_settings keyboard;

// The one key handed from the reader thread to the run; -1 when empty. The
// thread waits while it is full, so no key is lost and none is reordered.
std::atomic<int> key_slot{-1};

// How often the reader thread looks again at a full slot or a console that
// gave nothing.
constexpr DWORD reader_poll_ms = 5;

std::int64_t monotonic_ms()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const std::int64_t ticks = now.QuadPart;
    const std::int64_t per_second = frequency.QuadPart;
    return ticks / per_second * 1000 + ticks % per_second * 1000 / per_second;
}

const std::int64_t program_start_ms = monotonic_ms();

// Ends every wait: the sleeps, and a read of standard input in progress (the
// one character after the help text; the reader thread reads again).
void request_stop()
{
    stop.requested = true;
    SetEvent(stop.wake);
    CancelIoEx(GetStdHandle(STD_INPUT_HANDLE), nullptr);
}

// Runs on a thread of its own, started by the system for each event.
BOOL WINAPI on_console_event(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: request_stop(); return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns: let the run close the port and
        // the log file first.
        request_stop();
        WaitForSingleObject(stop.log_closed, close_event_wait_ms);
        return TRUE;
    default: return FALSE;
    }
}

// Hands each byte of standard input to the run through the key slot, until
// the input ends. A console read can end without a byte (an interrupt key):
// the thread then reads again.
DWORD WINAPI read_keys(LPVOID)
{
    for (;;) {
        unsigned char byte = 0;
        DWORD count = 0;
        const BOOL read = ReadFile(keyboard.input, &byte, 1, &count, nullptr);
        if (count == 0) {
            if (keyboard.is_console && (read || GetLastError() == ERROR_OPERATION_ABORTED)) {
                Sleep(reader_poll_ms);
                continue;
            }
            return 0; // end of input: no more keys
        }
        while (key_slot.load() != -1)
            Sleep(reader_poll_ms);
        key_slot.store(byte);
    }
}

} // namespace

void sleep_ms(std::uint32_t milliseconds)
{
    if (stop.wake != nullptr)
        WaitForSingleObject(stop.wake, milliseconds); // a stop event ends it early
    else
        Sleep(milliseconds);
}

std::int64_t elapsed_ms()
{
    return monotonic_ms() - program_start_ms;
}

void console_begin()
{
    // A display line ends in "\r" and a diagnostic may end in no line end at
    // all: at a console each must show at once.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetFileType(output) == FILE_TYPE_CHAR && GetConsoleMode(output, &mode) != 0) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        output_is_console = true;
    }

    stop_handlers_begin();
}

void stop_handlers_begin()
{
    // Manual reset: once stopped, every later sleep ends at once as well.
    stop.wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    stop.log_closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void console_end()
{
    if (stop.log_closed != nullptr)
        SetEvent(stop.log_closed);
}

// A console's writes may wait too (a selection held in it); not avoided here.
std::ptrdiff_t console_write_now(const char* bytes, std::size_t count)
{
    std::fwrite(bytes, 1, count, stdout);
    return static_cast<std::ptrdiff_t>(count);
}

bool console_writes_at_once()
{
    return output_is_console;
}

bool console_is_terminal()
{
    return output_is_console;
}

bool console_write_all(const char* bytes, std::size_t count)
{
    return std::fwrite(bytes, 1, count, stdout) == count;
}

void keyboard_begin()
{
    keyboard.input = GetStdHandle(STD_INPUT_HANDLE);
    if (keyboard.input == nullptr || keyboard.input == INVALID_HANDLE_VALUE)
        return;
    // At a console: each key as it is pressed, without echo. The interrupt
    // keys still raise their console events.
    keyboard.is_console = GetConsoleMode(keyboard.input, &keyboard.found) != 0;
    if (keyboard.is_console)
        keyboard.active =
            SetConsoleMode(keyboard.input,
                           keyboard.found & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) != 0;

    // The one helper thread: it only waits for input and hands bytes over.
    const HANDLE thread = CreateThread(nullptr, 0, read_keys, nullptr, 0, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}

void keyboard_end()
{
    if (!keyboard.active)
        return;
    keyboard.active = false;
    SetConsoleMode(keyboard.input, keyboard.found);
}

bool key_waiting()
{
    return key_slot.load() != -1;
}

int key_read()
{
    return key_slot.exchange(-1);
}

bool stop_requested()
{
    return stop.requested.load();
}

} // namespace imutap
