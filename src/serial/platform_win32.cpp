// The platform operations on Windows: the Win32 serial interface, the
// console control handler, and standard input read by one helper thread.
#include "serial/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

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

// How often port_wait looks at the port's queue.
constexpr std::int64_t port_wait_slice_ms = 100;

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

HANDLE handle_of(const port_handle& port)
{
    return reinterpret_cast<HANDLE>(port.os);
}

// The errors with which a read or a write fails once the device behind the
// port has gone away. A USB adapter pulled out gives one of the first seven,
// depending on its driver. Under Wine a pseudo-terminal whose far end has
// closed gives ERROR_NOT_READY on a write while its reads just bring no
// bytes: the silence shows first, the loss at the next command. A handle
// that is no longer valid cannot come back either. ERROR_OPERATION_ABORTED
// also follows a line error on a port that aborts on errors; closing and
// opening the port again clears that too.
bool device_gone(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
    case ERROR_INVALID_HANDLE:
        return true;
    default:
        return false;
    }
}

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
    case CTRL_BREAK_EVENT:
        request_stop();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns: let the run close the port and
        // the log file first.
        request_stop();
        WaitForSingleObject(stop.log_closed, close_event_wait_ms);
        return TRUE;
    default:
        return FALSE;
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

bool port_create(const char* name, port_handle& port)
{
    // "COM" and one character, or a device path such as "\\.\COM12", as given.
    const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_SYSTEM, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    port.os = reinterpret_cast<std::intptr_t>(handle);
    port.first_byte_wait_ms = 0; // the port keeps its read timing itself
    return true;
}

bool port_setup_queues(port_handle& port, std::uint32_t input_size, std::uint32_t output_size)
{
    return SetupComm(handle_of(port), input_size, output_size) != 0;
}

bool port_get_state(port_handle& port, line_settings& settings)
{
    DCB native;
    static_assert(sizeof native <= sizeof settings.native);
    std::memset(&native, 0, sizeof native);
    native.DCBlength = sizeof native;
    if (GetCommState(handle_of(port), &native) == 0)
        return false;
    std::memcpy(settings.native, &native, sizeof native);
    settings.baud_rate = native.BaudRate;
    settings.parity = native.Parity;
    settings.stop_bits = native.StopBits;
    return true;
}

bool port_set_state(port_handle& port, const line_settings& settings)
{
    DCB native;
    std::memcpy(&native, settings.native, sizeof native);
    native.BaudRate = settings.baud_rate;
    native.Parity = settings.parity;
    native.StopBits = settings.stop_bits;
    // The port keeps what an earlier program set (a terminal program's
    // XON/XOFF, 7 bits, a handshake): the link needs 8 binary bits, no
    // parity checking, no flow control of any kind, no character replaced or
    // dropped, and reads and writes that go on after a line error.
    native.ByteSize = 8;
    native.fBinary = TRUE;
    native.fParity = FALSE;
    native.fOutX = FALSE;
    native.fInX = FALSE;
    native.fOutxCtsFlow = FALSE;
    native.fOutxDsrFlow = FALSE;
    native.fDsrSensitivity = FALSE;
    native.fNull = FALSE;
    native.fErrorChar = FALSE;
    native.fAbortOnError = FALSE;
    // A line that was a handshake stays on; one that was set on or off stays
    // so (some units draw power from DTR and RTS).
    if (native.fRtsControl == RTS_CONTROL_HANDSHAKE || native.fRtsControl == RTS_CONTROL_TOGGLE)
        native.fRtsControl = RTS_CONTROL_ENABLE;
    if (native.fDtrControl == DTR_CONTROL_HANDSHAKE)
        native.fDtrControl = DTR_CONTROL_ENABLE;
    // Every other field goes back as the port gave it.
    return SetCommState(handle_of(port), &native) != 0;
}

bool port_get_timeouts(port_handle& port, port_timeouts& timeouts)
{
    COMMTIMEOUTS native;
    if (GetCommTimeouts(handle_of(port), &native) == 0)
        return false;
    timeouts.read_interval = native.ReadIntervalTimeout;
    timeouts.read_multiplier = native.ReadTotalTimeoutMultiplier;
    timeouts.read_constant = native.ReadTotalTimeoutConstant;
    timeouts.write_multiplier = native.WriteTotalTimeoutMultiplier;
    timeouts.write_constant = native.WriteTotalTimeoutConstant;
    return true;
}

bool port_set_timeouts(port_handle& port, const port_timeouts& timeouts)
{
    COMMTIMEOUTS native;
    native.ReadIntervalTimeout = timeouts.read_interval;
    native.ReadTotalTimeoutMultiplier = timeouts.read_multiplier;
    native.ReadTotalTimeoutConstant = timeouts.read_constant;
    native.WriteTotalTimeoutMultiplier = timeouts.write_multiplier;
    native.WriteTotalTimeoutConstant = timeouts.write_constant;
    return SetCommTimeouts(handle_of(port), &native) != 0;
}

port_read_result port_read(port_handle& port, void* buffer, std::uint32_t wanted)
{
    // With the read timeouts MAXDWORD, MAXDWORD and a small constant the
    // port returns what is queued at once, or waits that long for a byte.
    DWORD count = 0;
    if (ReadFile(handle_of(port), buffer, wanted, &count, nullptr) == 0)
        return {0, device_gone(GetLastError())};
    return {count, false};
}

bool port_queued(port_handle& port, std::uint32_t& count)
{
    DWORD errors = 0;
    COMSTAT status;
    if (ClearCommError(handle_of(port), &errors, &status) == 0)
        return false;
    count = status.cbInQue;
    return true;
}

bool port_wait(port_handle& port, std::uint32_t milliseconds)
{
    // A port opened without overlapped I/O cannot be waited on beside the
    // stop event: its queue is looked at every port_wait_slice_ms instead.
    const std::int64_t end = monotonic_ms() + milliseconds;
    for (;;) {
        std::uint32_t queued = 0;
        if (!port_queued(port, queued) || queued > 0)
            return true;
        const std::int64_t left = end - monotonic_ms();
        if (left <= 0 || stop.requested.load())
            return false;
        sleep_ms(static_cast<std::uint32_t>(left < port_wait_slice_ms ? left : port_wait_slice_ms));
    }
}

bool port_write(port_handle& port, const void* bytes, std::uint32_t count, bool& gone)
{
    gone = false;
    DWORD written = 0;
    if (WriteFile(handle_of(port), bytes, count, &written, nullptr) == 0) {
        gone = device_gone(GetLastError());
        return false;
    }
    return written == count;
}

bool port_close(port_handle& port)
{
    const HANDLE handle = handle_of(port);
    port.os = -1;
    if (handle == INVALID_HANDLE_VALUE)
        return true;
    return CloseHandle(handle) != 0;
}

int last_error()
{
    return static_cast<int>(GetLastError());
}

bool port_names_file(const char* port_name, const char* file_name)
{
    // Both as the system resolves them: "COM3", "com3" and "\\.\COM3" are one device.
    char port_path[MAX_PATH];
    char file_path[MAX_PATH];
    const DWORD port_length = GetFullPathNameA(port_name, MAX_PATH, port_path, nullptr);
    const DWORD file_length = GetFullPathNameA(file_name, MAX_PATH, file_path, nullptr);
    if (port_length == 0 || port_length >= MAX_PATH || file_length == 0 || file_length >= MAX_PATH)
        return false;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, port_path, -1, file_path, -1) ==
           CSTR_EQUAL;
}

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
    if (GetFileType(output) == FILE_TYPE_CHAR && GetConsoleMode(output, &mode) != 0)
        std::setvbuf(stdout, nullptr, _IONBF, 0);

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
        keyboard.active = SetConsoleMode(keyboard.input,
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
