// The emulator's option table and its look-ups by name.
#include "option_table.h"

namespace imutap_emu {

namespace {

constexpr option_entry option_table[] = {
    {"link", 'l', true, opt_id::link},
    {"rate", 'r', true, opt_id::rate},
    {"count", 'n', true, opt_id::count},
    {"streaming", 0, false, opt_id::streaming},
    {"line-pace", 0, false, opt_id::line_pace},
    {"start-seq", 0, true, opt_id::start_seq},
    {"bad-checksum", 0, true, opt_id::bad_checksum},
    {"bad-header", 0, true, opt_id::bad_header},
    {"drop-byte", 0, true, opt_id::drop_byte},
    {"silence", 0, true, opt_id::silence},
    {"replug", 0, true, opt_id::replug},
    {"hold-output", 0, true, opt_id::hold},
    {"line", 0, true, opt_id::line},
    {"ignore", 0, true, opt_id::ignore},
    {"ignore-after-p", 0, false, opt_id::ignore_after_p},
    {"answer-late", 0, true, opt_id::answer_late},
    {"short-g", 0, true, opt_id::short_g},
    {"log-commands", 0, true, opt_id::log_commands},
    {"keys", 0, true, opt_id::keys},
    {"keys-delay", 0, true, opt_id::keys_delay},
    {"quiet", 'q', false, opt_id::quiet},
    {"verbose", 'v', false, opt_id::verbose},
    {"still-gyro", 0, true, opt_id::still_gyro},
    {"still-accel", 0, true, opt_id::still_accel},
    {"still-drift", 0, true, opt_id::still_drift},
    {"help", 'h', false, opt_id::help},
};

} // namespace

const option_entry* find_long(std::string_view name)
{
    for (const option_entry& entry : option_table)
        if (name == entry.long_name)
            return &entry;
    return nullptr;
}

const option_entry* find_short(char name)
{
    for (const option_entry& entry : option_table)
        if (entry.short_name != 0 && entry.short_name == name)
            return &entry;
    return nullptr;
}

} // namespace imutap_emu
