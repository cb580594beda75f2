#include "unit_session.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

// Spawns `args` with standard input/output as given (-1: /dev/null) and
// standard error into `error_file`.
pid_t spawn(const std::vector<std::string>& args, int in, int out, const std::string& error_file)
{
    std::vector<std::string> storage = args;
    std::vector<char*> argv;
    for (std::string& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    setsid();
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(in >= 0 ? in : null_fd, 0);
    dup2(out >= 0 ? out : null_fd, 1);
    const int err = open(error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err >= 0 ? err : null_fd, 2);
    if (in >= 0 && isatty(in))
        ioctl(0, TIOCSCTTY, 0);
    execv(argv[0], argv.data());
    _exit(127);
}

void read_available(process& child, int wait_ms)
{
    if (child.output < 0)
        return;
    struct pollfd p{child.output, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0)
        return;
    char buffer[4096];
    const ssize_t n = read(child.output, buffer, sizeof buffer);
    if (n > 0)
        child.said.append(buffer, static_cast<std::size_t>(n));
    else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // A pty master stays open as the input: its settings are still read.
        if (child.input != child.output)
            close(child.output);
        child.output = -1;
    }
}

int left_ms(clock_type::time_point end)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock_type::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

void begin_session(unit_session& session)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::string name = (fs::temp_directory_path() / "imutap-e2e-XXXXXX").string();
    if (mkdtemp(name.data()) != nullptr)
        session.dir = name;
    session.link = session.dir + "/unit";
}

bool start_unit(unit_session& session, const std::vector<std::string>& options)
{
    std::vector<std::string> args{IMUTAP_EMULATOR, "-q", "-l", session.link, "--log-commands",
                                  session.dir + "/commands.txt"};
    args.insert(args.end(), options.begin(), options.end());
    session.unit.pid = spawn(args, -1, -1, session.dir + "/unit-errors.txt");
    const auto end = clock_type::now() + std::chrono::seconds(5);
    while (clock_type::now() < end) {
        if (fs::is_symlink(session.link))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool start_logger(unit_session& session, const std::vector<std::string>& options, bool terminal)
{
    std::vector<std::string> args{IMUTAP_PROGRAM, session.dir + "/log.txt"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("-c");
    args.push_back(session.link);
    const std::string errors = session.dir + "/logger-errors.txt";
    if (terminal) {
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return false;
        tcgetattr(slave, &session.logger.terminal_found);
        session.logger.pid = spawn(args, slave, slave, errors);
        close(slave);
        session.logger.input = session.logger.output = master;
        return session.logger.pid > 0;
    }
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return false;
    session.logger.pid = spawn(args, in[0], out[1], errors);
    close(in[0]);
    close(out[1]);
    session.logger.input = in[1];
    session.logger.output = out[0];
    return session.logger.pid > 0;
}

bool wait_for_output(process& child, const std::string& text, int timeout_ms)
{
    const auto end = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (child.said.find(text) == std::string::npos) {
        if (left_ms(end) == 0 || child.output < 0)
            return false;
        read_available(child, std::min(left_ms(end), 50));
    }
    return true;
}

void send_keys(process& child, const std::string& keys)
{
    if (child.input >= 0 && write(child.input, keys.data(), keys.size()) < 0)
        std::perror("send_keys");
}

bool runs_on_for(process& child, int ms)
{
    const auto end = clock_type::now() + std::chrono::milliseconds(ms);
    while (left_ms(end) > 0) {
        if (child.output >= 0)
            read_available(child, std::min(left_ms(end), 50));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int status = 0;
    return child.pid > 0 && waitpid(child.pid, &status, WNOHANG) == 0;
}

int wait_exit(process& child, int timeout_ms)
{
    if (child.pid <= 0)
        return -1;
    const auto end = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child.pid, &status, WNOHANG);
        if (done == child.pid)
            break;
        if (left_ms(end) == 0) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            child.pid = -1;
            return -1;
        }
        if (child.output >= 0)
            read_available(child, 10);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    child.pid = -1;
    while (child.output >= 0)
        read_available(child, 100);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

void stop_unit(unit_session& session)
{
    if (session.unit.pid > 0) {
        kill(session.unit.pid, SIGTERM);
        wait_exit(session.unit, 3000);
    }
}

void end_session(unit_session& session)
{
    if (session.logger.pid > 0) {
        kill(session.logger.pid, SIGKILL);
        wait_exit(session.logger, 1000);
    }
    if (session.logger.output >= 0 && session.logger.output != session.logger.input)
        close(session.logger.output);
    if (session.logger.input >= 0)
        close(session.logger.input);
    stop_unit(session);
    if (!session.dir.empty() && std::getenv("IMUTAP_KEEP_TEST_FILES") == nullptr)
        fs::remove_all(session.dir);
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
    for (const command_byte& c : commands_of(read_file(session.dir + "/commands.txt")))
        text += c.byte;
    return text;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start)); // an unfinished line shows as such
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<long long> counts_of(const std::vector<std::string>& lines)
{
    std::vector<long long> counts;
    for (const std::string& line : lines)
        counts.push_back(std::strtoll(line.c_str(), nullptr, 10));
    return counts;
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
