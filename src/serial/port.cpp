#include "serial/port.h"

#include "packet/packet.h"

#include <cstring>

namespace imutap {

// The device the choice names: its path, or "COM" followed by one character
// ("COM1" by default, "COM" alone when the -c value was empty), built in `name`.
static const char* port_target(const port_choice& choice, char (&name)[5])
{
    std::memcpy(name, "COM1", 5);
    name[3] = choice.digit;
    return choice.path != nullptr ? choice.path : name;
}

bool port_is_file(const port_choice& choice, const char* file_name)
{
    char name[5];
    return port_names_file(port_target(choice, name), file_name);
}

// The failed step of those that read the port's settings and write them
// back.
static port_step failed_step(port_setup failed, port_step reading, port_step writing)
{
    return failed == port_setup::read_failed ? reading : writing;
}

// Notes the failed step with the system's number and closes the port.
static bool fail_step(serial_port& port, port_step step, port_failure& failure)
{
    failure = {step, last_error()};
    port_close(port.handle);
    port.open = false;
    return false;
}

bool open_port(const port_choice& choice, serial_port& port, port_failure& failure)
{
    char name[5];
    const char* target = port_target(choice, name);

    port.ahead_start = port.ahead_end = 0;
    if (!port_create(target, port.handle)) {
        failure = {port_step::open, last_error()};
        return false;
    }
    port.open = true;
    if (!port_setup_queues(port.handle, queue_size, queue_size))
        return fail_step(port, port_step::queues, failure);
    const auto rate = static_cast<std::uint32_t>(choice.baud_rate);
    if (const port_setup line = port_set_line(port.handle, rate); line != port_setup::done)
        return fail_step(port, failed_step(line, port_step::get_line, port_step::set_line),
                         failure);
    // A write whose byte cannot go out (the port's output held) gives up.
    const port_timing timing{first_byte_wait_ms, write_wait_ms, packet_wait_ms};
    if (const port_setup set = port_set_timing(port.handle, timing); set != port_setup::done)
        return fail_step(port, failed_step(set, port_step::get_timing, port_step::set_timing),
                         failure);
    return true;
}

bool close_port(serial_port& port)
{
    port.open = false;
    port.ahead_start = port.ahead_end = 0;
    return port_close(port.handle);
}

using platform_read = port_read_result (*)(port_handle&, void*, std::uint32_t);

// One read served from the read-ahead, refilled by `fill` when it is empty.
static port_read_result read_ahead(serial_port& port, std::uint8_t* destination,
                                   std::uint32_t wanted, platform_read fill)
{
    if (port.ahead_start == port.ahead_end) {
        const port_read_result got = fill(port.handle, port.ahead, sizeof port.ahead);
        if (got.count == 0)
            return got;
        port.ahead_start = 0;
        port.ahead_end = got.count;
    }
    const std::uint32_t buffered = port.ahead_end - port.ahead_start;
    const std::uint32_t count = wanted < buffered ? wanted : buffered;
    copy_packet_bytes(destination, port.ahead + port.ahead_start, count);
    port.ahead_start += count;
    return port_read_result{count, false};
}

port_read_result read_some(serial_port& port, std::uint8_t* destination, std::uint32_t wanted)
{
    return read_ahead(port, destination, wanted, port_read);
}

bool wait_for_byte(serial_port& port, std::uint32_t milliseconds)
{
    if (port.ahead_start != port.ahead_end)
        return true;
    return milliseconds > 0 && port_wait(port.handle, milliseconds);
}

serial_status read_packet(serial_port& port, std::uint32_t length, std::uint8_t* destination,
                          std::int64_t silent_limit_ms)
{
    std::uint32_t so_far = 0;
    std::int64_t quiet_ms = 0; // waited without a byte since the last one
    while (so_far < length) {
        if (run_ended(port.handle.stop))
            return serial_status::interrupted;
        const port_read_result got =
            read_ahead(port, destination + so_far, length - so_far, port_read_packet);
        if (got.gone)
            return serial_status::lost;
        if (got.count > 0) {
            so_far += got.count;
            quiet_ms = 0;
            continue;
        }
        quiet_ms += got.waited_ms;
        if (quiet_ms >= silent_limit_ms)
            return serial_status::silent;
    }
    return serial_status::ok;
}

} // namespace imutap
