// Serving the unit: answering the logger over the pty until a stop signal or the
// command's end.
#pragma once

#include "emu_log.h"
#include "options.h"
#include "signals.h"

namespace imutap_emu {

// Exit status when the pty, the link or the command log cannot be set up.
constexpr int setup_failed_status = 1;

// Sets up the unit's pty and link, prints the ready line, starts the command if any,
// and serves the unit until a stop signal or the command's end. Returns the exit status.
int serve_unit(const emu_options& options, const emu_log& log, const signal_masks& masks);

} // namespace imutap_emu
