// Parsing the emulator's command line.
#include "options.h"

#include "option_table.h"
#include "text_numbers.h"

#include <algorithm>
#include <string_view>

namespace imutap_emu {

namespace {

struct line_name {
    const char* name;
    line_state state;
};

constexpr line_name line_names[] = {
    {"raw", line_state::raw},
    {"xonxoff", line_state::xonxoff},
    {"7e1-rtscts", line_state::seven_bit},
};

constexpr std::uint64_t max_ms = 86'400'000; // one day
constexpr double max_rate = 1e6;

// "CHARS" or "CHARS:TIMES", entries separated by commas: "G", "G:3", "GP,a:2".
bool parse_ignore(std::string_view text, std::int64_t (&times)[256], std::string& error)
{
    for (;;) {
        std::size_t comma = text.find(',');
        std::string_view entry = text.substr(0, comma);
        std::size_t colon = entry.find(':');
        std::string_view chars = entry.substr(0, colon);
        std::int64_t count = always;
        if (colon != std::string_view::npos) {
            std::uint64_t value = 0;
            if (!parse_unsigned(entry.substr(colon + 1), std::uint64_t(INT64_MAX), value) ||
                value == 0) {
                error = "bad count in --ignore entry '" + std::string(entry) +
                        "' (want CMDS or CMDS:TIMES, TIMES from 1 up)";
                return false;
            }
            count = static_cast<std::int64_t>(value);
        }
        if (chars.empty()) {
            error = "empty command list in --ignore entry '" + std::string(entry) + "'";
            return false;
        }
        for (char c : chars)
            times[std::uint8_t(c)] = count;
        if (comma == std::string_view::npos)
            return true;
        text.remove_prefix(comma + 1);
    }
}

bool parse_event(std::string_view text, event_kind kind, const char* name,
                 std::vector<unit_event>& events, std::string& error)
{
    std::uint64_t packet = 0, ms = 0;
    bool has_ms = false;
    if (!parse_pair(text, UINT32_MAX, max_ms, false, packet, ms, has_ms) || packet == 0) {
        error = std::string("bad value '") + std::string(text) + "' for --" + name +
                " (want PKT:MS, PKT from 1 up, MS at most 86400000)";
        return false;
    }
    unit_event event;
    event.packet = packet;
    event.ms = static_cast<std::uint32_t>(ms);
    event.kind = kind;
    events.push_back(event);
    return true;
}

bool apply_option(opt_id id, const char* name, std::string_view value, emu_options& options,
                  std::string& error)
{
    auto bad_value = [&](const char* want) {
        error =
            std::string("bad value '") + std::string(value) + "' for " + name + " (" + want + ")";
        return false;
    };
    std::uint64_t number = 0;
    switch (id) {
    case opt_id::link:
        if (value.empty())
            return bad_value("want a path");
        options.link_path = value;
        return true;
    case opt_id::rate:
        if (!parse_real(value, options.rate) || options.rate < 0 || options.rate > max_rate)
            return bad_value("want packets per second from 0 to 1000000; 0 means unpaced");
        return true;
    case opt_id::count:
        if (!parse_unsigned(value, std::uint64_t(INT64_MAX), number))
            return bad_value("want a whole number from 0 up");
        options.has_count = true;
        options.count = number;
        return true;
    case opt_id::streaming: options.streaming_at_power_on = true; return true;
    case opt_id::line_pace: options.line_pace = true; return true;
    case opt_id::start_seq:
        if (!parse_unsigned(value, UINT64_MAX, options.start_seq))
            return bad_value("want a whole number from 0 up");
        return true;
    case opt_id::bad_checksum: return parse_index_list(value, options.bad_checksum, error);
    case opt_id::bad_header: return parse_index_list(value, options.bad_header, error);
    case opt_id::drop_byte: return parse_index_list(value, options.drop_byte, error);
    case opt_id::silence:
        return parse_event(value, event_kind::silence, "silence", options.events, error);
    case opt_id::replug:
        return parse_event(value, event_kind::replug, "replug", options.events, error);
    case opt_id::hold:
        return parse_event(value, event_kind::hold, "hold-output", options.events, error);
    case opt_id::line:
        for (const line_name& entry : line_names)
            if (value == entry.name) {
                options.line = entry.state;
                return true;
            }
        return bad_value("want raw, xonxoff or 7e1-rtscts");
    case opt_id::ignore: return parse_ignore(value, options.ignore_times, error);
    case opt_id::ignore_after_p: options.ignore_letter_after_stop = true; return true;
    case opt_id::answer_late:
        if (!parse_unsigned(value, max_ms, number))
            return bad_value("want milliseconds from 0 to 86400000");
        options.answer_late_ms = static_cast<std::uint32_t>(number);
        return true;
    case opt_id::short_g: {
        std::uint64_t times = 0;
        bool has_times = false;
        if (!parse_pair(value, 255, std::uint64_t(INT64_MAX), true, options.short_g_bytes, times,
                        has_times) ||
            (has_times && times == 0))
            return bad_value("want K or K:TIMES, K bytes from 0 to 255, TIMES from 1 up");
        options.has_short_g = true;
        options.short_g_times = has_times ? static_cast<std::int64_t>(times) : always;
        return true;
    }
    case opt_id::log_commands:
        if (value.empty())
            return bad_value("want a file name");
        options.log_commands_path = value;
        return true;
    case opt_id::keys:
        options.has_keys = true;
        options.keys = value;
        return true;
    case opt_id::keys_delay:
        if (!parse_unsigned(value, max_ms, number))
            return bad_value("want milliseconds from 0 to 86400000");
        options.keys_delay_ms = static_cast<std::int64_t>(number);
        return true;
    case opt_id::quiet: options.quiet = true; return true;
    case opt_id::verbose: options.verbose = true; return true;
    case opt_id::still_gyro:
        if (!parse_still_pair(value, options.still.gyro_white, options.still.gyro_walk))
            return bad_value("want WHITE[:WALK] in deg/s/sqrt(Hz) and deg/s^2/sqrt(Hz), from 0 up");
        options.still.on = true;
        return true;
    case opt_id::still_accel:
        if (!parse_still_pair(value, options.still.accel_white, options.still.accel_walk))
            return bad_value("want WHITE[:WALK] in g/sqrt(Hz) and g/s/sqrt(Hz), from 0 up");
        options.still.on = true;
        return true;
    case opt_id::still_drift:
        if (!parse_real(value, options.still.drift))
            return bad_value("want degC per hour");
        options.still.on = true;
        return true;
    case opt_id::help: return true;
    }
    return true;
}

bool check_combination(const emu_options& options, std::string& error)
{
    if (options.has_keys && options.command.empty()) {
        error = "--keys needs a command to run after --";
        return false;
    }
    if (options.has_keys && !options.has_count && options.keys_delay_ms < 0) {
        error = "--keys needs -n N (keys follow the last packet) or --keys-delay MS";
        return false;
    }
    if (options.keys_delay_ms >= 0 && !options.has_keys) {
        error = "--keys-delay needs --keys TEXT";
        return false;
    }
    return true;
}

} // namespace

parse_outcome parse_options(int argc, const char* const* argv, emu_options& options,
                            std::string& error)
{
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--") {
            if (i + 1 == argc) {
                error = "no command after --";
                return parse_outcome::error;
            }
            options.command.assign(argv + i + 1, argv + argc);
            break;
        }
        const option_entry* entry = nullptr;
        std::string name;
        std::string_view value;
        bool has_value = false;
        if (arg.size() > 2 && arg.substr(0, 2) == "--") {
            std::string_view body = arg.substr(2);
            std::size_t equals = body.find('=');
            entry = find_long(body.substr(0, equals));
            name = "--" + std::string(body.substr(0, equals));
            if (equals != std::string_view::npos) {
                value = body.substr(equals + 1);
                has_value = true;
            }
        } else if (arg.size() >= 2 && arg[0] == '-') {
            entry = find_short(arg[1]);
            name = std::string(arg.substr(0, 2));
            if (arg.size() > 2) {
                value = arg.substr(2);
                has_value = true;
            }
        } else {
            error =
                "unexpected argument '" + std::string(arg) + "' (put a command to run after --)";
            return parse_outcome::error;
        }
        if (entry == nullptr) {
            error = "unknown option '" + name + "'";
            return parse_outcome::error;
        }
        if (entry->takes_value && !has_value) {
            if (i + 1 == argc) {
                error = "option '" + name + "' needs a value";
                return parse_outcome::error;
            }
            value = argv[++i];
        } else if (!entry->takes_value && has_value) {
            error = "option '" + name + "' takes no value";
            return parse_outcome::error;
        }
        if (entry->id == opt_id::help)
            help = true;
        if (!apply_option(entry->id, name.c_str(), value, options, error))
            return parse_outcome::error;
    }
    if (help)
        return parse_outcome::help;
    if (!check_combination(options, error))
        return parse_outcome::error;
    std::stable_sort(options.events.begin(), options.events.end(),
                     [](const unit_event& earlier, const unit_event& later) {
                         return earlier.packet < later.packet;
                     });
    return parse_outcome::run;
}

std::string default_link_path(long pid)
{
    return "/tmp/imutap-emu." + std::to_string(pid);
}

} // namespace imutap_emu
