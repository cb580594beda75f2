// Where the emulator reports: the command log (--log-commands) and, with -v, notes on
// standard error.
#pragma once

#include <cstdint>
#include <string>

namespace imutap_emu {

// Where the emulator reports: the --log-commands file and, with -v, standard error.
struct emu_log {
    int commands_fd = -1; // -1: no command log
    std::int64_t start_ns = 0; // monotonic time of emulator start
    bool verbose = false;
};

bool open_command_log(const std::string& path, emu_log& log, std::string& error);
void close_command_log(emu_log& log);

// One line "<microseconds since start> <two hex digits>\n", written at once.
void log_command_byte(const emu_log& log, std::int64_t now, std::uint8_t byte);

// With -v: "imutap-emu: <seconds since start> <message>\n" on standard error.
[[gnu::format(printf, 3, 4)]] void note(const emu_log& log, std::int64_t now, const char* format,
                                        ...);

// "'a'" for printable bytes, "0x07" for the others, for notes.
std::string byte_name(std::uint8_t byte);

} // namespace imutap_emu
