// imutap-emu: the emulated unit on a pseudo-terminal. Reads the options, sets up the
// signals and the command log, and serves the unit.
#include "emu_log.h"
#include "mono_clock.h"
#include "options.h"
#include "serve.h"
#include "signals.h"
#include "usage.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

constexpr int usage_status = 2;

} // namespace

int main(int argc, char** argv)
{
    using namespace imutap_emu;
    emu_options options;
    std::string error;
    switch (parse_options(argc, argv, options, error)) {
    case parse_outcome::help: print_usage(stdout); return 0;
    case parse_outcome::error:
        std::fprintf(stderr, "imutap-emu: %s\nTry 'imutap-emu --help'.\n", error.c_str());
        return usage_status;
    case parse_outcome::run: break;
    }
    if (options.link_path.empty())
        options.link_path = default_link_path(static_cast<long>(getpid()));

    emu_log log;
    log.start_ns = mono_now_ns();
    log.verbose = options.verbose;
    if (!options.log_commands_path.empty() &&
        !open_command_log(options.log_commands_path, log, error)) {
        std::fprintf(stderr, "imutap-emu: %s\n", error.c_str());
        return setup_failed_status;
    }
    signal_masks masks;
    install_signal_handlers(masks);
    int status = serve_unit(options, log, masks);
    close_command_log(log);
    return status;
}
