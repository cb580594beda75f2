#include "process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using clock_type = std::chrono::steady_clock;

int left_ms(clock_type::time_point end)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - clock_type::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

pid_t spawn(const std::vector<std::string>& args, const spawn_setup& setup)
{
    std::vector<std::string> storage = args;
    std::vector<char*> argv;
    for (std::string& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (setup.own_session)
        setsid();
    if (!setup.dir.empty() && chdir(setup.dir.c_str()) != 0)
        _exit(126);
    const int null_fd = open("/dev/null", O_RDWR);
    const int out = setup.output >= 0 ? setup.output : null_fd;
    int error = null_fd;
    if (setup.error_to_output)
        error = out;
    else if (!setup.error_file.empty())
        error = open(setup.error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(setup.input >= 0 ? setup.input : null_fd, 0);
    dup2(out, 1);
    dup2(error >= 0 ? error : null_fd, 2);
    if (setup.own_session && setup.input >= 0 && isatty(setup.input))
        ioctl(0, TIOCSCTTY, 0);
    execv(argv[0], argv.data());
    _exit(127);
}

bool start_piped(process& child, const std::vector<std::string>& args, spawn_setup setup)
{
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
    setup.input = in[0];
    setup.output = out[1];
    child.pid = spawn(args, setup);
    close(in[0]);
    close(out[1]);
    child.input = in[1];
    child.output = out[0];
    return child.pid > 0;
}

bool start_on_pty(process& child, const std::vector<std::string>& args, spawn_setup setup)
{
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return false;
    tcgetattr(slave, &child.terminal_found);
    setup.input = setup.output = slave;
    child.pid = spawn(args, setup);
    close(slave);
    child.input = child.output = master;
    return child.pid > 0;
}

void read_available(process& child, int wait_ms)
{
    if (child.output < 0)
        return;
    struct pollfd p {
        child.output, POLLIN, 0
    };
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

void send_keys(process& child, const std::string& keys)
{
    if (child.input >= 0 && write(child.input, keys.data(), keys.size()) < 0)
        std::perror("send_keys");
}

bool wait_until(process& child, const std::function<bool()>& holds, int timeout_ms)
{
    const auto end = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (!holds()) {
        if (left_ms(end) == 0)
            return false;
        if (child.output >= 0)
            read_available(child, std::min(left_ms(end), 20));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool wait_for_output(process& child, const std::string& text, int timeout_ms)
{
    // Given up at once when the child's output has ended.
    wait_until(
        child, [&] { return child.said.find(text) != std::string::npos || child.output < 0; },
        timeout_ms);
    return child.said.find(text) != std::string::npos;
}

bool runs_on_for(process& child, int ms)
{
    wait_until(
        child, [] { return false; }, ms);
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

int stop_process(process& child, int timeout_ms)
{
    if (child.pid > 0)
        kill(child.pid, SIGTERM);
    return wait_exit(child, timeout_ms);
}

void end_process(process& child)
{
    if (child.pid > 0) {
        kill(child.pid, SIGKILL);
        wait_exit(child, 1000);
    }
    if (child.output >= 0 && child.output != child.input)
        close(child.output);
    if (child.input >= 0)
        close(child.input);
    child.input = child.output = -1;
}

bool same_settings(const struct termios& one, const struct termios& other)
{
    return one.c_lflag == other.c_lflag && one.c_iflag == other.c_iflag &&
           one.c_oflag == other.c_oflag && one.c_cc[VMIN] == other.c_cc[VMIN] &&
           one.c_cc[VTIME] == other.c_cc[VTIME];
}

run_result run_to_end(const std::vector<std::string>& args, const std::string* input,
                      const std::string& dir, int timeout_ms)
{
    spawn_setup setup;
    setup.dir = dir;
    setup.error_to_output = true;
    process child;
    run_result result;
    if (!start_piped(child, args, setup))
        return result;
    if (input == nullptr) {
        // Standard input at its end at once, as /dev/null is.
        close(child.input);
        child.input = -1;
    }
    if (input == nullptr || input->empty() ||
        write(child.input, input->data(), input->size()) == static_cast<ssize_t>(input->size())) {
        const auto end = clock_type::now() + std::chrono::milliseconds(timeout_ms);
        while (child.output >= 0 && left_ms(end) > 0)
            read_available(child, left_ms(end));
        result.ended = child.output < 0;
    }
    if (!result.ended)
        kill(child.pid, SIGKILL);
    int status = 0;
    waitpid(child.pid, &status, 0);
    child.pid = -1;
    end_process(child);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.said = std::move(child.said);
    return result;
}
