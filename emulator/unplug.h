// Unplugging the unit (--replug) and holding the logger's output (--hold-output), both
// carried out once the logger has read what was sent.
#pragma once

#include "emu_log.h"
#include "options.h"
#include "serve_state.h"

#include <cstdint>

namespace imutap_emu {

// Opens a new pty and points the link at it; false, said on standard error, if not.
bool plug_in(const emu_options& options, serve_state& state);
bool logger_has_read_all(const serve_state& state, std::int64_t now, std::int64_t& since);
void ask_unplug(serve_state& state, std::uint32_t ms, std::int64_t now);
void unplug_when_read(const emu_options& options, serve_state& state, std::int64_t now,
                      std::int64_t& wake);
void hold_when_read(serve_state& state, const emu_log& log, std::int64_t now, std::int64_t& wake);
bool replug_if_due(const emu_options& options, serve_state& state, const emu_log& log,
                   std::int64_t now);

} // namespace imutap_emu
