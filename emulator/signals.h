// The emulator's stop signals and SIGCHLD, blocked except while it waits in ppoll().
#pragma once

#include <csignal>

namespace imutap_emu {

// SIGINT, SIGTERM and SIGHUP only set a flag; SIGCHLD only wakes the poll. All four are
// blocked except inside ppoll() with wait_mask, so none is lost between a check and the
// wait. SIGPIPE is ignored (a logger may go away while the unit writes).
struct signal_masks {
    sigset_t wait_mask; // for ppoll()
    sigset_t original_mask; // for a child before exec
};

void install_signal_handlers(signal_masks& masks);

// The stop signal received since the last call (0 if none), cleared.
int take_stop_signal();

// Undoes install_signal_handlers in a child before exec.
void reset_signals_for_child(const signal_masks& masks);

} // namespace imutap_emu
