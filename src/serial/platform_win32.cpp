// The serial port on Windows: the Win32 serial interface.
#include "serial/platform.h"

#include "system/clock.h"
#include "system/deadline.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

namespace imutap {

namespace {

// How often port_wait looks at the port's queue.
constexpr std::int64_t port_wait_slice_ms = 100;

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
    case ERROR_INVALID_HANDLE: return true;
    default: return false;
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
    port.timing = port_timing{};
    return true;
}

bool port_setup_queues(port_handle& port, std::uint32_t input_size, std::uint32_t output_size)
{
    return SetupComm(handle_of(port), input_size, output_size) != 0;
}

port_setup port_set_line(port_handle& port, std::uint32_t baud_rate)
{
    DCB native;
    std::memset(&native, 0, sizeof native);
    native.DCBlength = sizeof native;
    if (GetCommState(handle_of(port), &native) == 0)
        return port_setup::read_failed;
    native.BaudRate = baud_rate;
    native.Parity = NOPARITY;
    native.StopBits = ONESTOPBIT;
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
    return SetCommState(handle_of(port), &native) != 0 ? port_setup::done
                                                       : port_setup::write_failed;
}

port_setup port_set_timing(port_handle& port, const port_timing& timing)
{
    COMMTIMEOUTS native;
    if (GetCommTimeouts(handle_of(port), &native) == 0)
        return port_setup::read_failed;
    // A read interval and multiplier of MAXDWORD with a constant between them
    // is the system's own "queued or first byte".
    native.ReadIntervalTimeout = MAXDWORD;
    native.ReadTotalTimeoutMultiplier = MAXDWORD;
    native.ReadTotalTimeoutConstant = timing.first_byte_wait_ms;
    native.WriteTotalTimeoutMultiplier = 0;
    native.WriteTotalTimeoutConstant = timing.write_wait_ms;
    if (SetCommTimeouts(handle_of(port), &native) == 0)
        return port_setup::write_failed;
    port.timing = timing;
    return port_setup::done;
}

port_read_result port_read(port_handle& port, void* buffer, std::uint32_t wanted)
{
    // The port's timing: what is queued at once, or the first byte to come.
    DWORD count = 0;
    if (ReadFile(handle_of(port), buffer, wanted, &count, nullptr) == 0)
        return {0, device_gone(GetLastError())};
    if (count == 0)
        return {0, false, port.timing.first_byte_wait_ms};
    return {count, false};
}

port_read_result port_read_packet(port_handle& port, void* buffer, std::uint32_t wanted)
{
    // ReadFile is one call already: the packet path reads as every read does.
    return port_read(port, buffer, wanted);
}

// How many received bytes the system holds that no read has taken yet;
// false when it cannot tell.
static bool port_queued(port_handle& port, std::uint32_t& count)
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
    const deadline until = deadline_after(elapsed_ms(), milliseconds);
    for (;;) {
        std::uint32_t queued = 0;
        if (!port_queued(port, queued) || queued > 0)
            return true;
        const std::int64_t now = elapsed_ms();
        if (deadline_passed(until, now) || run_ended(port.stop))
            return false;
        const std::int64_t left = deadline_left_ms(until, now);
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

} // namespace imutap
