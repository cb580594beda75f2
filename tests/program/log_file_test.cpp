// The log file against a kill, a full disk, a second logger, a name that is
// the serial port itself, a disk or pipe that holds its writes, a file
// deleted during the run and a named pipe without a reader.
#include "session_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using clock_type = std::chrono::steady_clock;

// One more logger with this log file name on this port, standard input
// empty; killed after ten seconds if it was not refused.
run_result run_logger_once(const unit_session& session, const std::string& log_name,
                           const std::string& port)
{
    return run_to_end({IMUTAP_PROGRAM, log_name, "-c", port}, nullptr, session.dir, 10000);
}

// A small file system, unmounted (lazily, should the logger still hold it)
// at the latest when the test ends.
struct small_disk {
    std::string path;
    bool mounted = false;
    bool mount_on(const std::string& where)
    {
        path = where;
        fs::create_directory(path);
        mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=512k") == 0;
        return mounted;
    }
    void unmount()
    {
        if (mounted)
            umount2(path.c_str(), MNT_DETACH);
        mounted = false;
    }
    ~small_disk()
    {
        unmount();
    }
};

// A file system of its own on a loop device, to be frozen; unmounted at the
// latest when the test ends.
struct loop_disk {
    std::string path;
    bool mounted = false;
    bool mount_on(const std::string& image, const std::string& where)
    {
        path = where;
        fs::create_directory(path);
        const std::string make = "truncate -s 16M '" + image + "' && mkfs.ext4 -q -F '" + image +
                                 "' && mount -o loop '" + image + "' '" + path + "'";
        mounted = std::system((make + " 2>/dev/null").c_str()) == 0;
        return mounted;
    }
    bool freeze(bool frozen)
    {
        const std::string command =
            std::string("fsfreeze ") + (frozen ? "-f" : "-u") + " '" + path + "' 2>/dev/null";
        return std::system(command.c_str()) == 0;
    }
    ~loop_disk()
    {
        if (!mounted)
            return;
        freeze(false);
        umount2(path.c_str(), MNT_DETACH);
    }
};

// Reads what a named pipe holds now into `text`, without waiting; false at
// its end (every writer gone).
bool read_pipe(int fd, std::string& text)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        return got < 0;
    }
}

class LogFile : public session_test {};

TEST_F(LogFile, AKillLosesAtMostAboutASecondOfLines)
{
    for (int rate : {100, 1000}) {
        SCOPED_TRACE(rate);
        ASSERT_TRUE(start_unit(s, {"-r", std::to_string(rate)}));
        // The time column is the logger's clock, which starts after this.
        const auto started = clock_type::now();
        ASSERT_TRUE(start_logger(s, {"-m", "c", "-D"}));
        ASSERT_TRUE(runs_on_for(s.logger, 3500));
        kill(s.logger.pid, SIGKILL);
        const std::chrono::duration<double> killed_at = clock_type::now() - started;
        EXPECT_EQ(wait_exit(s.logger, 3000), 128 + SIGKILL);

        std::vector<std::string> lines = log_lines(s);
        const std::string log = read_file(s.dir + "/log.txt");
        // A kill in the middle of a write may leave its last line unfinished.
        if (!log.empty() && log.back() != '\n')
            lines.pop_back();
        ASSERT_GT(static_cast<int>(lines.size()), rate);
        const std::vector<long long> counts = counts_of(lines);
        for (std::size_t i = 1; i < counts.size(); ++i)
            ASSERT_EQ(counts[i], counts[i - 1] + 1) << lines[i];
        const double last_time = std::strtod(fields_of(lines.back()).at(1).c_str(), nullptr);
        EXPECT_LT(killed_at.count() - last_time, 1.5) << lines.back();
        restart_session(s);
    }
}

TEST_F(LogFile, AFullDiskKeepsWholeLinesCountsTheLostAndEndsWithStatusOne)
{
    // The disk fills after about a second's lines and has room again a
    // second after the logger said so. A file-size limit is raised from
    // outside (the logger itself keeps SIGXFSZ from killing it); a small file
    // system has its ballast deleted.
    struct way {
        const char* name;
        const char* reason;
    };
    for (const way& w : {way{"file-size limit", "File too large"},
                         way{"small file system", "No space left on device"}}) {
        SCOPED_TRACE(w.name);
        const bool limit = w.reason == std::string("File too large");
        small_disk disk;
        if (!limit) {
            if (!disk.mount_on(s.dir + "/disk"))
                GTEST_SKIP() << "cannot mount a tmpfs here (not root?)";
            std::ofstream(disk.path + "/ballast", std::ios::binary) << std::string(450000, 'x');
            fs::create_symlink(disk.path + "/log.txt", s.dir + "/log.txt");
        }
        ASSERT_TRUE(start_unit(s, {"-r", "1000"}));
        struct rlimit found;
        getrlimit(RLIMIT_FSIZE, &found);
        if (limit) {
            // Inherited by the logger alone: nothing else is written meanwhile.
            struct rlimit small = found;
            small.rlim_cur = 64 * 1024;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const bool started = start_logger(s, {"-m", "c"});
        setrlimit(RLIMIT_FSIZE, &found);
        ASSERT_TRUE(started);

        const std::string failed =
            std::string("log file write failed: ") + w.reason + "; lines are being lost\n";
        ASSERT_TRUE(wait_for_output(s.logger, failed, 10000)) << end_of(s.logger.said);
        ASSERT_TRUE(runs_on_for(s.logger, 1000));
        if (limit)
            prlimit(s.logger.pid, RLIMIT_FSIZE, &found, nullptr);
        else
            fs::remove(disk.path + "/ballast");
        ASSERT_TRUE(wait_for_output(s.logger, "log file written again; ", 5000))
            << end_of(s.logger.said);
        ASSERT_TRUE(runs_on_for(s.logger, 500));
        send_keys(s.logger, "q");
        EXPECT_EQ(wait_exit(s.logger, 5000), 1);

        // Whole lines only, each from one packet: the count and the unit's
        // counter go up together. What is missing is what was said.
        const std::string log = read_file(s.dir + "/log.txt");
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), '\n');
        const std::vector<std::string> lines = log_lines(s);
        long long missing = 0;
        long long previous = 0;
        long long offset = -1;
        for (const std::string& line : lines) {
            const std::vector<std::string> fields = fields_of(line);
            ASSERT_EQ(fields.size(), 12u) << line;
            const long long count = std::stoll(fields[0]);
            const long long counter = std::stoll(fields[11]);
            if (offset < 0)
                offset = (count - counter + 65536) % 65536;
            EXPECT_EQ((count - counter + 65536) % 65536, offset) << line;
            ASSERT_GT(count, previous) << line;
            if (previous != 0)
                missing += count - previous - 1;
            previous = count;
        }
        EXPECT_GT(missing, 0);
        EXPECT_NE(s.logger.said.find(failed), std::string::npos);
        EXPECT_EQ(s.logger.said.find(failed), s.logger.said.rfind(failed)) << "said once";
        EXPECT_NE(s.logger.said.find(std::to_string(missing) +
                                     " lines could not be written to the log file\n"),
                  std::string::npos)
            << end_of(s.logger.said);
        disk.unmount();
        restart_session(s);
    }
}

TEST_F(LogFile, ASecondLoggerIsRefusedTheFileUntilTheFirstEnds)
{
    ASSERT_TRUE(start_unit(s, {"-r", "1000"}));
    ASSERT_TRUE(start_logger(s, {"-m", "c"}));
    ASSERT_TRUE(runs_on_for(s.logger, 1500));
    const std::string log_name = s.dir + "/log.txt";
    const run_result second = run_logger_once(s, log_name, s.link);
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.said.find("log file " + log_name + " is in use by another imutap\n"),
              std::string::npos)
        << end_of(second.said);

    EXPECT_TRUE(runs_on_for(s.logger, 500));
    send_keys(s.logger, "q");
    EXPECT_EQ(wait_exit(s.logger, 5000), 0);
    const std::vector<long long> counts = counts_of(log_lines(s));
    ASSERT_GT(counts.size(), 1000u);
    for (std::size_t i = 0; i < counts.size(); ++i)
        ASSERT_EQ(counts[i], counts[0] + static_cast<long long>(i));
    EXPECT_EQ(read_file(log_name).find('\0'), std::string::npos);

    // Once the first has ended the file is free again: the next run takes it,
    // and keeps it as it is when its port cannot be opened.
    const std::string first_log = read_file(log_name);
    const run_result third = run_logger_once(s, log_name, "/nonexistent/imutap-test-port");
    EXPECT_EQ(third.status, 1);
    EXPECT_NE(third.said.find("could not open serial port, 2\n"), std::string::npos)
        << end_of(third.said);
    EXPECT_EQ(read_file(log_name), first_log);
}

TEST_F(LogFile, TheSerialPortItselfIsRefusedAsTheLogFile)
{
    ASSERT_TRUE(start_unit(s, {}));
    const std::string device = fs::canonical(s.link).string();
    const std::string other_link = s.dir + "/another-link";
    fs::create_symlink(device, other_link);
    for (const std::string& name : {s.link, device, other_link}) {
        const run_result run = run_logger_once(s, name, s.link);
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_NE(run.said.find("log file " + name + " is the serial port\n"), std::string::npos)
            << end_of(run.said);
    }
    // Neither the log text nor a command reached the unit.
    EXPECT_EQ(commands_sent(s), "");
}

TEST_F(LogFile, AHeldWriteHoldsUpNeitherTheReadingNorAnyLine)
{
    // A pipe whose reader stops for 10 s, and a file system frozen for 5 s
    // (where the machine can make one). Meanwhile the display lines go on,
    // and afterwards the log holds every packet the unit sent.
    struct hold {
        const char* name;
        int seconds;
        bool pipe;
    };
    for (const hold& h : {hold{"pipe", 10, true}, hold{"frozen file system", 5, false}}) {
        SCOPED_TRACE(h.name);
        const int packets = (h.seconds + 3) * 1000;
        const std::string log_name = s.dir + "/log.txt";
        loop_disk disk;
        int pipe_fd = -1;
        if (h.pipe) {
            ASSERT_EQ(mkfifo(log_name.c_str(), 0600), 0);
            pipe_fd = open(log_name.c_str(), O_RDONLY | O_NONBLOCK);
            ASSERT_GE(pipe_fd, 0);
        } else {
            if (!disk.mount_on(s.dir + "/disk.img", s.dir + "/disk"))
                GTEST_SKIP() << "cannot mount a loop device here: the frozen file system is "
                                "not tried";
            fs::create_symlink(disk.path + "/log.txt", log_name);
        }
        ASSERT_TRUE(start_unit(s, {"-r", "1000", "-n", std::to_string(packets)}));
        ASSERT_TRUE(start_logger(s, {"-m", "c"}));
        std::string piped;
        // Reads the console and, unless held, the pipe, for `ms`.
        const auto pump = [&](int ms, bool read_log) {
            const auto end = clock_type::now() + std::chrono::milliseconds(ms);
            while (clock_type::now() < end) {
                read_available(s.logger, 10);
                if (read_log && pipe_fd >= 0)
                    read_pipe(pipe_fd, piped);
            }
        };
        ASSERT_TRUE(wait_for_output(s.logger, "\r", 5000)) << s.logger.said;
        pump(1000, true);
        if (!h.pipe) {
            ASSERT_TRUE(disk.freeze(true));
        }
        const std::size_t shown_before =
            static_cast<std::size_t>(std::count(s.logger.said.begin(), s.logger.said.end(), '\r'));
        pump(h.seconds * 1000, false);
        const std::size_t shown_during =
            static_cast<std::size_t>(std::count(s.logger.said.begin(), s.logger.said.end(), '\r')) -
            shown_before;
        if (!h.pipe) {
            ASSERT_TRUE(disk.freeze(false));
        }
        // A hundred display lines a second at 1,000 packets/s: a fifth of
        // them is far more than a stopped reading would show.
        EXPECT_GT(shown_during, static_cast<std::size_t>(h.seconds) * 20);
        const auto unit_done = clock_type::now() + std::chrono::seconds(20);
        while (s.logger.said.find("AHRS silent for 1 s") == std::string::npos &&
               clock_type::now() < unit_done)
            pump(50, true);
        send_keys(s.logger, "q");
        const auto logger_done = clock_type::now() + std::chrono::seconds(10);
        int status = -1;
        while (status < 0 && clock_type::now() < logger_done) {
            pump(20, true);
            int raw = 0;
            if (waitpid(s.logger.pid, &raw, WNOHANG) == s.logger.pid) {
                s.logger.pid = -1;
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            }
        }
        EXPECT_EQ(status, 0) << end_of(s.logger.said);
        if (h.pipe) {
            read_pipe(pipe_fd, piped);
            close(pipe_fd);
        }
        EXPECT_EQ(s.logger.said.find("log file"), std::string::npos) << end_of(s.logger.said);

        // Every packet, in order, by the count and by the unit's counter.
        const std::vector<std::string> lines =
            h.pipe ? lines_of(piped) : lines_of(read_file(disk.path + "/log.txt"));
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(packets));
        long long counter = -1;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::vector<std::string> fields = fields_of(lines[i]);
            ASSERT_EQ(fields.size(), 12u) << lines[i];
            ASSERT_EQ(std::stoll(fields[0]), static_cast<long long>(i) + 1) << lines[i];
            if (counter >= 0) {
                ASSERT_EQ(std::stoll(fields[11]), (counter + 1) % 65536) << lines[i];
            }
            counter = std::stoll(fields[11]);
        }
        restart_session(s);
    }
}

TEST_F(LogFile, ADeletedLogIsSaidAndEndsWithStatusOneAndAMovedOneIsNot)
{
    // The log is a link into a directory of its own.
    struct change {
        const char* name;
        bool deleted;
    };
    for (const change& c : {change{"file removed", true}, change{"directory removed", true},
                            change{"file moved to another directory", false}}) {
        SCOPED_TRACE(c.name);
        const std::string log_name = s.dir + "/log.txt";
        fs::create_directory(s.dir + "/logs");
        fs::create_directory(s.dir + "/elsewhere");
        fs::create_symlink(s.dir + "/logs/log.txt", log_name);
        ASSERT_TRUE(start_unit(s, {"-r", "1000"}));
        ASSERT_TRUE(start_logger(s, {"-m", "c"}));
        ASSERT_TRUE(wait_for_output(s.logger, "\r", 5000)) << s.logger.said;
        ASSERT_TRUE(runs_on_for(s.logger, 1000));
        if (c.name == std::string("file removed"))
            fs::remove(s.dir + "/logs/log.txt");
        else if (c.deleted)
            fs::remove_all(s.dir + "/logs");
        else
            fs::rename(s.dir + "/logs/log.txt", s.dir + "/elsewhere/log.txt");
        const std::string deleted = "log file " + log_name + " was deleted; lines are being lost\n";
        if (c.deleted) {
            EXPECT_TRUE(wait_for_output(s.logger, deleted, 5000)) << end_of(s.logger.said);
        }
        ASSERT_TRUE(runs_on_for(s.logger, c.deleted ? 500 : 2500));
        send_keys(s.logger, "q");
        const int status = wait_exit(s.logger, 5000);
        const std::string& said = s.logger.said;
        if (c.deleted) {
            EXPECT_EQ(status, 1);
            EXPECT_EQ(said.find(deleted), said.rfind(deleted)) << "said once";
            EXPECT_NE(said.find(" lines could not be written to the log file\n"), std::string::npos)
                << end_of(said);
        } else {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(said.find("log file"), std::string::npos) << end_of(said);
            const std::vector<long long> counts =
                counts_of(lines_of(read_file(s.dir + "/elsewhere/log.txt")));
            ASSERT_GT(counts.size(), 2000u);
            for (std::size_t i = 0; i < counts.size(); ++i)
                ASSERT_EQ(counts[i], counts[0] + static_cast<long long>(i));
        }
        restart_session(s);
    }
}

TEST_F(LogFile, ANamedPipeWithoutAReaderIsWaitedForUntilAStopSignalOrAReader)
{
    // A stop signal ends the wait with status 1 and nothing more said; a
    // reader that comes lets the run start.
    const std::string waiting = "waiting for a reader of log file ";
    for (const int signal_number : {SIGINT, SIGTERM, 0}) {
        SCOPED_TRACE(signal_number);
        const std::string log_name = s.dir + "/log.txt";
        ASSERT_EQ(mkfifo(log_name.c_str(), 0600), 0);
        ASSERT_TRUE(start_unit(s, {"-r", "0", "-n", "300"}));
        ASSERT_TRUE(start_logger(s, {"-m", "c"}));
        ASSERT_TRUE(wait_for_output(s.logger, waiting + log_name + "\n", 5000)) << s.logger.said;
        if (signal_number != 0) {
            ASSERT_TRUE(runs_on_for(s.logger, 300));
            kill(s.logger.pid, signal_number);
            EXPECT_EQ(wait_exit(s.logger, 3000), 1);
            const std::string said = s.logger.said;
            EXPECT_EQ(said.substr(said.find(waiting)), waiting + log_name + "\n");
            EXPECT_EQ(commands_sent(s), "");
        } else {
            const int reader = open(log_name.c_str(), O_RDONLY | O_NONBLOCK);
            ASSERT_GE(reader, 0);
            std::string piped;
            const auto end = clock_type::now() + std::chrono::seconds(15);
            while (s.logger.said.find("AHRS silent for 1 s") == std::string::npos &&
                   clock_type::now() < end) {
                read_available(s.logger, 20);
                read_pipe(reader, piped);
            }
            send_keys(s.logger, "q");
            EXPECT_EQ(wait_exit(s.logger, 5000), 0);
            while (read_pipe(reader, piped))
                ;
            close(reader);
            const std::vector<long long> counts = counts_of(lines_of(piped));
            ASSERT_EQ(counts.size(), 300u);
            EXPECT_EQ(counts.back(), 300);
        }
        restart_session(s);
    }
}

} // namespace
