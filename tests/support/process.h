// Child processes for the tests: started with their standard streams where a
// test wants them, read with a time limit, waited for with a time limit.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

struct process {
    pid_t pid = -1;
    int input = -1; // the child's standard input (a pipe, or a pty master)
    int output = -1; // the child's standard output (a pipe, or the same pty master)
    std::string said; // standard output read so far
    struct termios terminal_found {}; // a pty's settings before the child started
};

// A terminal's settings that a program changes and must put back, alike.
bool same_settings(const struct termios& one, const struct termios& other);

// Where a child's standard streams go; -1 is /dev/null.
struct spawn_setup {
    int input = -1;
    int output = -1;
    std::string error_file; // standard error into this file; empty: see below
    bool error_to_output = false; // standard error where standard output goes
    std::string dir; // the working directory; empty: the test's
    bool own_session = false; // a session of its own; a pty input becomes its terminal
};

// Starts args[0] (a path) with args; the pid, or -1.
pid_t spawn(const std::vector<std::string>& args, const spawn_setup& setup);
// Starts the child with pipes as its standard input (`child.input`) and
// output (`child.output`); standard error as `setup` says.
bool start_piped(process& child, const std::vector<std::string>& args, spawn_setup setup);
// Starts the child with a new pty as its standard input and output, the
// master in `child.input` and `child.output`.
bool start_on_pty(process& child, const std::vector<std::string>& args, spawn_setup setup);

// Reads what the child writes within `wait_ms` into `child.said`.
void read_available(process& child, int wait_ms);
// Reads the child's output until `text` shows up; false after `timeout_ms`.
bool wait_for_output(process& child, const std::string& text, int timeout_ms);
void send_keys(process& child, const std::string& keys);
// True once `holds` does, false after `timeout_ms`; the child's output is read
// meanwhile.
bool wait_until(process& child, const std::function<bool()>& holds, int timeout_ms);
// Reads the child's output for `ms`; true when it is still running after it.
bool runs_on_for(process& child, int ms);
// The exit status (0-255), 128+signal, or -1 when it had to be killed after
// `timeout_ms`. Reads the rest of its output meanwhile.
int wait_exit(process& child, int timeout_ms);
// Asks the child to end (SIGTERM); its status as wait_exit gives it.
int stop_process(process& child, int timeout_ms);
// Kills the child if it still runs and closes its streams.
void end_process(process& child);

// A run of a program from start to end, its standard output and error in one.
struct run_result {
    bool ended = false; // false: still writing after the time limit, and killed
    int status = -1; // the exit status, or -1 when it did not exit by itself
    std::string said;
};
// Runs the program to its end. With `input` its standard input is a pipe
// holding `input` and open until it ends; without, /dev/null.
run_result run_to_end(const std::vector<std::string>& args, const std::string* input,
                      const std::string& dir, int timeout_ms);
