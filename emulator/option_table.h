// The emulator's options: their long and short names, whether they take a value, and
// what each one sets.
#pragma once

#include <string_view>

namespace imutap_emu {

enum class opt_id {
    link,
    rate,
    count,
    streaming,
    line_pace,
    start_seq,
    bad_checksum,
    bad_header,
    drop_byte,
    silence,
    replug,
    hold,
    line,
    ignore,
    ignore_after_p,
    answer_late,
    short_g,
    log_commands,
    keys,
    keys_delay,
    quiet,
    verbose,
    still_gyro,
    still_accel,
    still_drift,
    help
};

struct option_entry {
    const char* long_name;
    char short_name; // 0: long form only
    bool takes_value;
    opt_id id;
};

// The option of that name, or nullptr when there is none.
const option_entry* find_long(std::string_view name);
const option_entry* find_short(char name);

} // namespace imutap_emu
