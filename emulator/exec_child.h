// The program the emulator runs on its unit (everything after "--"): its start, its end,
// the stop signals passed on, and the keys typed into it.
#pragma once

#include "options.h"
#include "signals.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace imutap_emu {

// The program run on the unit (everything after "--"), with "-c LINK" appended.
struct child_proc {
    pid_t pid = -1;
    int keys_fd = -1; // write end of the child's standard input, with --keys
    std::int64_t started = 0;
    std::int64_t drained_since = 0; // when the slave's input was last seen to empty, 0: not
    int kill_signal = 0; // last signal passed on to the child
};

bool start_child(const emu_options& options, const signal_masks& masks, std::int64_t now,
                 child_proc& child, std::string& error);

// True once the child has ended; status is its exit status, or 128 + signal.
bool child_ended(child_proc& child, int& status);

// Passes a stop signal on; a second one kills.
void signal_child(child_proc& child, int number);

// Writes the key text and closes the pipe.
void give_keys_to_child(const emu_options& options, child_proc& child);

} // namespace imutap_emu
