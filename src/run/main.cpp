#include "output/console_platform.h"
#include "output/log_file.h"
#include "output/messages.h"
#include "run/acquisition.h"
#include "run/options.h"
#include "serial/port.h"

#include <cstdio>
#include <vector>

namespace imutap {

namespace {

// The log file's buffer: at full speed a line comes with every packet, and a
// large buffer writes them in few system calls.
constexpr std::size_t log_buffer_size = 64 * 1024;

// The program: start-up checks, the log file, then the run; returns the
// exit status.
int run_program(int argc, char** argv)
{
    run_options options;
    console_begin();
    std::fputs(banner_text, stdout);

    if (argc < 2) {
        std::fputs(help_text, stdout);
        std::getchar();
        return 1;
    }

    switch (read_command_line(argc, argv, options)) {
    case start_choice::help: std::fputs(help_text, stdout); return 0;
    case start_choice::version: return 0;
    case start_choice::refused: return 1;
    case start_choice::run: break;
    }

    std::fputs(options.mode == 'a' ? angle_header : sensor_header, stdout);

    // A log file on the port itself would send the log to the unit.
    const port_choice port{options.port_digit, options.port_path, options.baud_rate};
    if (port_is_file(port, argv[1])) {
        std::printf(log_file_is_port, argv[1]);
        return 1;
    }
    // Outlives the log file, which the run closes.
    std::vector<char> log_buffer(log_buffer_size);
    log_file log;
    int error = 0;
    switch (log_open(argv[1], log, log_buffer.data(), log_buffer.size(), error)) {
    case file_open_result::opened: break;
    case file_open_result::in_use: std::printf(log_file_in_use, argv[1]); return 1;
    case file_open_result::failed: {
        char reason[256];
        error_text(error, reason, sizeof reason);
        std::printf(log_file_cannot_create, argv[1], reason);
        return 1;
    }
    }
    return run_acquisition(options, log);
}

} // namespace

} // namespace imutap

int main(int argc, char** argv)
{
    return imutap::run_program(argc, argv);
}
