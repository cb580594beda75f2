// The command-line settings and their reading.
#pragma once

#include <cstdint>

namespace imutap {

struct run_options {
    char mode = 'a'; // -m: 'a' angle, 'c' scaled, 'r' voltage mode
    char port_digit = '1'; // -c: the port is "COM" followed by this character
    const char* port_path = nullptr; // -c with a '/' (or '\' on Windows): a device path as given
    std::int32_t baud_rate = 38400; // -b
    double dt = -1.0; // -t: seconds between packets; negative: no time column
    double output_period = 0.0; // -f: least spacing of log lines with a reconstructed time
    std::int32_t decimation = 1; // -d: packets read per pass
    bool dos_time = false; // -D: the time column shows the clock
};

// How reading the command line ended.
enum class start_choice {
    run,
    help,
    version,
    refused
};

// Reads the log file name and the options (argv[1] onwards). On `refused` the
// reason has been printed to standard output.
start_choice read_command_line(int argc, char** argv, run_options& options);

// "%d" style values: leading white space, optional sign, digits up to the
// first other character; no number gives 0. Saturates at the 32-bit range.
std::int32_t integer_value(const char* text);
// Decimal numbers: leading white space, then an optional sign, digits with an
// optional fraction, and an optional exponent, up to the first other
// character; no number gives 0.0. No other spelling (inf, nan, hexadecimal)
// is taken, and the locale plays no part. A number too large for a double
// gives an infinity, one too small a zero.
double floating_value(const char* text);

} // namespace imutap
