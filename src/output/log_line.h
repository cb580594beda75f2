// The log file line: a count (and time) prefix, then the packet's values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imutap {

// Everything the reconstructed time column remembers between lines; one
// record lives for the whole run.
struct time_state {
    bool first_call = true; // cleared by the first call that builds a reconstructed time
    double base_time = 0.0; // clock seconds from which the reconstructed time counts
    std::uint32_t count_base = 0; // packets-read count at which base_time was taken
    double last_written = 0.0; // time of the latest line with a reconstructed time
    double now = 0.0; // clock reading of the current call
};

// The log lines of one run: their settings, and the time column's state
// carried from line to line.
struct log_writer {
    char mode = 'a'; // 'a', 'c' or 'r'
    double dt = -1.0; // seconds between packets; below 0 (or NaN): no time column
    bool dos_time = false; // the time column shows the clock
    double output_period = 0.0; // least spacing of lines with a reconstructed time
    time_state times{};
};

// Room for the longest line: a 320-character time column and 15 values.
constexpr std::size_t log_line_capacity = 1024;

// Makes at most one log line for an accepted packet in `line`
// (log_line_capacity bytes) at the clock reading `clock_ms`; returns its
// length, line end included. With dt >= 0 and no DOS time the line is left
// out (length 0) when it would come less than output_period seconds after
// the previous one.
std::size_t make_log_line(char* line, log_writer& writer, std::uint32_t packets_read,
                          const std::uint8_t* packet, std::int64_t clock_ms);

// The values part of a log line (after the prefix, line end included);
// returns the position after it.
char* put_log_values(char* at, char mode, const std::uint8_t* packet);

} // namespace imutap
