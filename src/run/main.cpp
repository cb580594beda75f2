#include "run/acquisition.h"
#include "run/options.h"
#include "run/texts.h"
#include "serial/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

// The log file's stdio buffer: at full speed a line goes out with every
// packet, and a large buffer writes them in few system calls.
constexpr std::size_t log_buffer_size = 64 * 1024;

int main(int argc, char** argv)
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
    case start_choice::help:
        std::fputs(help_text, stdout);
        return 0;
    case start_choice::version:
        return 0;
    case start_choice::refused:
        return 1;
    case start_choice::run:
        break;
    }

    std::fputs(options.mode == 'a' ? angle_header : sensor_header, stdout);

    // Outlives the stream, which the run closes.
    std::vector<char> log_buffer(log_buffer_size);
    std::FILE* log = std::fopen(argv[1], "wb");
    if (log == nullptr) {
        const int code = errno;
        std::printf("could not create log file %s: %s\n", argv[1], std::strerror(code));
        return 1;
    }
    std::setvbuf(log, log_buffer.data(), _IOFBF, log_buffer.size());
    return run_acquisition(options, log);
}
