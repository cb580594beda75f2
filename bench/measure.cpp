// Runs the logger and measures it from outside, for bench/e2e.sh:
//
//   imutap_measure REPORT OUTPUT -- COMMAND [ARG]...
//
// COMMAND gets this program's standard input and error, and the file OUTPUT
// as its standard output: a plain file, which costs it no more than the
// /dev/null it would otherwise get. The file is read here as it grows, every
// few milliseconds. When COMMAND has ended, REPORT gets one "name value" pair
// a line:
//
//   wall_seconds, user_seconds, system_seconds, max_rss_kb,
//   voluntary_switches, involuntary_switches   its own accounting (wait4)
//   first_output_seconds      when its first output was seen (after start)
//   packets_before_output     packets read by then: ten per display line
//   silent_said_seconds       when it said the unit fell silent (-1: never)
//   stream_seconds            first output to the unit's last byte: the
//                             silence report comes silent_report_delay after it
//   stream_cpu_seconds        its CPU time in that span (from /proc, in ns)
//
// Its standard output is fully buffered when it is a file, so its first
// output comes once a buffer of display lines has filled, just after the
// stream began.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long look_interval_ns = 5000000; // 5 ms
constexpr const char* silent_marker = "AHRS silent for 1 s";
// The logger gives up on a silent unit 1 s after the first of its 5 ms reads
// that found nothing; the report comes with the next read after that.
constexpr double silent_report_delay = 1.005;
constexpr std::uint32_t display_interval = 10;

double monotonic_seconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double seconds_of(const struct timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// CPU time of a running process in seconds: the scheduler's nanosecond
// counts of all its threads.
double process_cpu_seconds(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(pid));
    DIR* tasks = opendir(path);
    if (tasks == nullptr)
        return -1.0;
    unsigned long long total = 0;
    bool any = false;
    while (const struct dirent* task = readdir(tasks)) {
        if (task->d_name[0] == '.')
            continue;
        char stat_path[64 + sizeof task->d_name + 16];
        std::snprintf(stat_path, sizeof stat_path, "%s/%s/schedstat", path, task->d_name);
        std::FILE* file = std::fopen(stat_path, "r");
        if (file == nullptr)
            continue;
        unsigned long long ns = 0;
        if (std::fscanf(file, "%llu", &ns) == 1) {
            total += ns;
            any = true;
        }
        std::fclose(file);
    }
    closedir(tasks);
    return any ? static_cast<double>(total) * 1e-9 : -1.0;
}

struct cpu_sample {
    double at; // seconds after start
    double cpu; // seconds of CPU time
};

// What the watch over the logger's output saw.
struct output_watch {
    bool has_output = false;
    double first_output = -1.0;
    double cpu_at_first_output = 0.0;
    std::uint32_t packets_before_output = 0;
    double silent_said = -1.0;
    std::string tail; // the end of the output so far, for a marker split over reads
    std::vector<cpu_sample> samples;
};

void take_output(output_watch& watch, const char* bytes, std::size_t count, double now, pid_t pid)
{
    if (!watch.has_output) {
        watch.has_output = true;
        watch.first_output = now;
        watch.cpu_at_first_output = process_cpu_seconds(pid);
        std::uint32_t lines = 0;
        for (std::size_t i = 0; i < count; ++i)
            lines += bytes[i] == '\r' ? 1 : 0;
        // The line being written when the buffer filled is the next one's.
        watch.packets_before_output = (lines + 1) * display_interval;
    }
    watch.tail.append(bytes, count);
    if (watch.silent_said < 0.0 && watch.tail.find(silent_marker) != std::string::npos)
        watch.silent_said = now;
    const std::size_t keep = std::strlen(silent_marker);
    if (watch.tail.size() > keep)
        watch.tail.erase(0, watch.tail.size() - keep);
}

// Everything the output file has gained since the last look.
void read_new_output(output_watch& watch, int file, double now, pid_t pid)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(file, buffer, sizeof buffer);
        if (got <= 0)
            return;
        take_output(watch, buffer, static_cast<std::size_t>(got), now, pid);
    }
}

// CPU time at `when`, from the last sample taken no later.
double cpu_at(const output_watch& watch, double when)
{
    double cpu = watch.cpu_at_first_output;
    for (const cpu_sample& s : watch.samples)
        if (s.at <= when && s.cpu >= 0.0)
            cpu = s.cpu;
    return cpu;
}

pid_t start(char** command, int output)
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    // Ends with this program, however that ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
    dup2(output, STDOUT_FILENO);
    close(output);
    execvp(command[0], command);
    std::perror(command[0]);
    _exit(127);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
        std::fprintf(stderr, "usage: imutap_measure REPORT OUTPUT -- COMMAND [ARG]...\n");
        return 2;
    }
    const int output = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int watched = open(argv[2], O_RDONLY | O_CLOEXEC);
    if (output < 0 || watched < 0) {
        std::perror(argv[2]);
        return 1;
    }

    const double started = monotonic_seconds();
    const pid_t pid = start(argv + 4, output);
    close(output);
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }

    output_watch watch;
    int status = 0;
    struct rusage usage;
    for (;;) {
        const pid_t ended = wait4(pid, &status, WNOHANG, &usage);
        const double now = monotonic_seconds() - started;
        read_new_output(watch, watched, now, pid);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR) {
            std::perror("wait4");
            return 1;
        }
        if (watch.has_output)
            watch.samples.push_back({now, process_cpu_seconds(pid)});
        struct timespec pause {
            0, look_interval_ns
        };
        nanosleep(&pause, nullptr);
    }
    const double wall = monotonic_seconds() - started;
    close(watched);

    double stream = -1.0;
    double stream_cpu = -1.0;
    if (watch.has_output && watch.silent_said >= 0.0) {
        const double stream_end = watch.silent_said - silent_report_delay;
        stream = stream_end - watch.first_output;
        stream_cpu = cpu_at(watch, stream_end) - watch.cpu_at_first_output;
    }

    std::FILE* report = std::fopen(argv[1], "w");
    if (report == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(report, "wall_seconds %.6f\n", wall);
    std::fprintf(report, "user_seconds %.6f\n", seconds_of(usage.ru_utime));
    std::fprintf(report, "system_seconds %.6f\n", seconds_of(usage.ru_stime));
    std::fprintf(report, "max_rss_kb %ld\n", usage.ru_maxrss);
    std::fprintf(report, "voluntary_switches %ld\n", usage.ru_nvcsw);
    std::fprintf(report, "involuntary_switches %ld\n", usage.ru_nivcsw);
    std::fprintf(report, "first_output_seconds %.6f\n", watch.first_output);
    std::fprintf(report, "packets_before_output %u\n", watch.packets_before_output);
    std::fprintf(report, "silent_said_seconds %.6f\n", watch.silent_said);
    std::fprintf(report, "stream_seconds %.6f\n", stream);
    std::fprintf(report, "stream_cpu_seconds %.6f\n", stream_cpu);
    std::fclose(report);

    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
