#include "output/log_file.h"
#include "output/messages.h"
#include "packet/layout.h"
#include "run/acquisition.h"
#include "run/findings.h"
#include "run/log_checks.h"
#include "run/options.h"
#include "serial/port.h"
#include "system/console_platform.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace imutap {

namespace {

// The log file's blocks: at full speed a line comes with every packet, and a
// large block writes them in few system calls. While a write is held the
// blocks keep well over a minute of lines at 1,000 packets/s (about 400
// lines a block).
constexpr std::size_t log_block_size = 64 * 1024;
constexpr std::uint32_t log_block_count = 256;

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

    std::fputs(packet_layout_of(options.mode).angles ? angle_header : sensor_header, stdout);

    const port_choice port{options.port_digit, options.port_path, options.baud_rate};
    if (log_name_refused(argv[1], port))
        return 1;
    std::intptr_t reader = -1;
    if (!wait_for_log_reader(argv[1], reader))
        return 1;
    // Outlives the log file, which the run closes. Only the blocks in use
    // take memory.
    const auto log_store = std::make_unique_for_overwrite<char[]>(log_block_size * log_block_count);
    log_file log;
    log.tell = say_log_note;
    int error = 0;
    const file_open_result opened =
        log_open(argv[1], log, log_store.get(), log_block_size, log_block_count, error);
    log_reader_release(reader);
    switch (opened) {
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
