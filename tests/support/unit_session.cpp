#include "unit_session.h"

#include "temp_dir.h"

#include <csignal>
#include <cstdlib>
#include <sstream>

void begin_session(unit_session& session)
{
    std::signal(SIGPIPE, SIG_IGN);
    session.dir = make_temp_dir("imutap-e2e");
    session.link = session.dir + "/unit";
}

bool start_unit(unit_session& session, const std::vector<std::string>& options)
{
    std::vector<std::string> args{
        IMUTAP_EMULATOR, "-q", "-l", session.link, "--log-commands", session.dir + "/commands.txt"};
    args.insert(args.end(), options.begin(), options.end());
    spawn_setup setup;
    setup.error_file = session.dir + "/unit-errors.txt";
    setup.own_session = true;
    session.unit.pid = spawn(args, setup);
    return wait_for_link(session.link, 5000);
}

bool start_logger(unit_session& session, const std::vector<std::string>& options, bool terminal)
{
    std::vector<std::string> args{IMUTAP_PROGRAM, session.dir + "/log.txt"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("-c");
    args.push_back(session.link);
    spawn_setup setup;
    setup.error_file = session.dir + "/logger-errors.txt";
    setup.own_session = true;
    if (terminal)
        return start_on_pty(session.logger, args, setup);
    return start_piped(session.logger, args, setup);
}

void end_session(unit_session& session)
{
    end_process(session.logger);
    stop_process(session.unit, 3000);
    remove_temp_dir(session.dir);
}

void restart_session(unit_session& session)
{
    end_session(session);
    session = unit_session{};
    begin_session(session);
}

std::vector<std::string> log_lines(const unit_session& session)
{
    return lines_of(read_file(session.dir + "/log.txt"));
}

std::string commands_sent(const unit_session& session)
{
    std::string text;
    for (const command_byte& command : commands_of(read_file(session.dir + "/commands.txt")))
        text += command.byte;
    return text;
}

std::vector<long long> counts_of(const std::vector<std::string>& lines)
{
    std::vector<long long> counts;
    for (const std::string& line : lines)
        counts.push_back(std::strtoll(line.c_str(), nullptr, 10));
    return counts;
}

std::vector<unsigned> counters_of(const std::vector<std::string>& lines)
{
    std::vector<unsigned> counters;
    for (const std::string& line : lines)
        counters.push_back(static_cast<unsigned>(std::stoul(line.substr(line.rfind(' ') + 1))));
    return counters;
}

std::vector<std::string> fields_of(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string field; in >> field;)
        fields.push_back(field);
    return fields;
}

std::vector<command_byte> commands_of(const std::string& text)
{
    std::vector<command_byte> bytes;
    std::istringstream in(text);
    long long micros = 0;
    std::string hex;
    while (in >> micros >> hex)
        bytes.push_back({static_cast<double>(micros) / 1000.0,
                         static_cast<char>(std::strtol(hex.c_str(), nullptr, 16))});
    return bytes;
}
