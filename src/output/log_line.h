// The log file line: a count (and time) prefix, then the packet's values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Everything the reconstructed time column remembers between lines; one
// record lives for the whole run.
struct time_state {
    bool first_call = true;      // cleared by the first call that builds a reconstructed time
    double base_time = 0.0;      // clock seconds from which the reconstructed time counts
    std::uint32_t count_base = 0; // packets-read count at which base_time was taken
    double last_written = 0.0;   // time of the latest line with a reconstructed time
    double now = 0.0;            // clock reading of the current call
};

// Milliseconds elapsed since program start.
using clock_ms_fn = std::int64_t (*)();

// Room for the longest line: a 320-character time column and 15 values.
constexpr std::size_t log_line_capacity = 1024;

// Makes at most one log line for an accepted packet (mode 'a', 'c' or 'r')
// in `line` (log_line_capacity bytes); returns its length, line end
// included. With dt >= 0 and no DOS time the line is left out (length 0)
// when it would come less than output_period seconds after the previous one.
std::size_t make_log_line(char* line, char mode, double dt, std::uint32_t packets_read,
                          const std::uint8_t* packet, bool dos_time, double output_period,
                          time_state& state, clock_ms_fn clock);

// The same line, written to a stdio stream.
void output_packet(char mode, double dt, std::uint32_t packets_read, const std::uint8_t* packet,
                   bool dos_time, std::FILE* log, double output_period, time_state& state,
                   clock_ms_fn clock);

// The values part of a log line (after the prefix, line end included);
// returns the position after it.
char* put_log_values(char* at, char mode, const std::uint8_t* packet);
