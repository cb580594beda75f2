// Starting the program run on the unit, passing signals on, and waiting for its end.
#include "exec_child.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace imutap_emu {

namespace {

constexpr int exec_failed_status = 127;

[[noreturn]] void run_in_child(const emu_options& options, const signal_masks& masks,
                               int keys_read_fd)
{
    reset_signals_for_child(masks);
    if (keys_read_fd >= 0) {
        dup2(keys_read_fd, STDIN_FILENO);
        close(keys_read_fd);
    }
    std::vector<char*> argv;
    for (const std::string& arg : options.command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(const_cast<char*>("-c"));
    argv.push_back(const_cast<char*>(options.link_path.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "imutap-emu: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(exec_failed_status);
}

} // namespace

bool start_child(const emu_options& options, const signal_masks& masks, std::int64_t now,
                 child_proc& child, std::string& error)
{
    int keys_pipe[2] = {-1, -1};
    if (options.has_keys && pipe2(keys_pipe, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe for --keys: ") + std::strerror(errno);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    child.pid = fork();
    if (child.pid < 0) {
        error = std::string("cannot start ") + options.command[0] + ": " + std::strerror(errno);
        return false;
    }
    if (child.pid == 0)
        run_in_child(options, masks, keys_pipe[0]);
    if (options.has_keys) {
        close(keys_pipe[0]);
        child.keys_fd = keys_pipe[1];
    }
    child.started = now;
    return true;
}

bool child_ended(child_proc& child, int& status)
{
    if (child.pid <= 0)
        return false;
    int raw = 0;
    pid_t done = waitpid(child.pid, &raw, WNOHANG);
    if (done != child.pid)
        return false;
    child.pid = -1;
    if (child.keys_fd >= 0)
        close(child.keys_fd);
    child.keys_fd = -1;
    status = WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
    return true;
}

void signal_child(child_proc& child, int number)
{
    if (child.pid <= 0)
        return;
    child.kill_signal = child.kill_signal == 0 ? number : SIGKILL;
    kill(child.pid, child.kill_signal);
}

void give_keys_to_child(const emu_options& options, child_proc& child)
{
    if (child.keys_fd < 0)
        return;
    // The text is short and the pipe empty: one blocking write takes it all.
    ssize_t written = write(child.keys_fd, options.keys.data(), options.keys.size());
    (void)written; // a child that has closed its input does not want them
    close(child.keys_fd);
    child.keys_fd = -1;
}

} // namespace imutap_emu
