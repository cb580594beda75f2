#include "run/log_checks.h"

#include "system/console_platform.h"
#include "system/file_platform.h"
#include "output/messages.h"

#include <cstdio>

namespace imutap {

namespace {

// A pipe without a reader is looked at again this often.
constexpr std::uint32_t reader_look_ms = 100;

} // namespace

bool log_name_refused(const char* name, const port_choice& port)
{
    // A log file on the port itself would send the log to the unit.
    if (port_is_file(port, name)) {
        std::printf(log_file_is_port, name);
        return true;
    }
    // Standard output's own file would get the console's lines in the log.
    if (file_is_standard_output(name)) {
        std::printf(log_file_is_output, name);
        return true;
    }
    return false;
}

bool wait_for_log_reader(const char* name, std::intptr_t& held)
{
    held = -1;
    if (file_find_reader(name, held) != reader_check::no_reader)
        return true;
    std::printf(log_file_waiting_for_reader, name);
    std::fflush(stdout);
    // Opening the pipe for writing would wait for the reader in one call,
    // which a stop signal coming just before it could not end.
    for (;;) {
        if (stop_requested())
            return false;
        sleep_ms(reader_look_ms);
        if (file_find_reader(name, held) != reader_check::no_reader)
            return true;
    }
}

void log_reader_release(std::intptr_t held)
{
    if (held != -1)
        file_close(held);
}

} // namespace imutap
