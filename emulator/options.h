// The emulator's command line: the unit's rate, faults and events, the pty's setup, and
// the program to run on the unit.
#pragma once

#include "index_list.h"
#include "still.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imutap_emu {

// Something the unit does once stream packet `packet` has gone out in full.
enum class event_kind : std::uint8_t {
    silence,
    replug,
    hold
};

// How the unit's pty is set up, as an earlier program may have left a serial line.
enum class line_state : std::uint8_t {
    raw, // raw, 8 bits, no flow control
    xonxoff, // raw, but software flow control on in both directions (IXON, IXOFF)
    seven_bit // xonxoff, and hardware flow control (CRTSCTS), 7 data bits, even parity
        // checked and marked (PARENB, INPCK, PARMRK), the 8th bit stripped (ISTRIP)
};

struct unit_event {
    std::uint64_t packet = 0; // 1-based index among the packets of continuous output
    std::uint32_t ms = 0;
    event_kind kind = event_kind::silence;
};

constexpr std::int64_t always = -1; // in ignore_times and short_g_times: no limit

struct emu_options {
    std::string link_path; // empty until main fills in the default
    double rate = 100.0; // packets per second; 0: as fast as the pty takes them
    bool has_count = false;
    std::uint64_t count = 0; // -n: packets of continuous output in all (0: never answers)
    bool streaming_at_power_on = false;
    bool line_pace = false; // each byte at the pace of the rate set on the tty
    std::uint64_t start_seq = 0; // sequence number of the first packet
    line_state line = line_state::raw; // each new pty is set up so
    std::vector<index_range> bad_checksum;
    std::vector<index_range> bad_header;
    std::vector<index_range> drop_byte;
    std::vector<unit_event> events; // sorted by packet
    std::int64_t ignore_times[256] = {}; // 0: answered; always; or ignored this many times
    bool ignore_letter_after_stop = false; // the first mode letter after each P
    std::uint32_t answer_late_ms = 0; // each mode letter answered this much later
    bool has_short_g = false;
    std::uint64_t short_g_bytes = 0;
    std::int64_t short_g_times = always;
    std::string log_commands_path;
    bool has_keys = false;
    std::string keys;
    std::int64_t keys_delay_ms = -1; // -1: write the keys once the stream is read
    bool quiet = false;
    bool verbose = false;
    std::vector<std::string> command; // after "--": run with "-c LINK" appended
    still_settings still; // --still-gyro, --still-accel, --still-drift
};

enum class parse_outcome {
    run,
    help,
    error
};

// Reads argv[1..argc-1]. On error, error holds a one-line reason.
parse_outcome parse_options(int argc, const char* const* argv, emu_options& options,
                            std::string& error);

std::string default_link_path(long pid);

} // namespace imutap_emu
