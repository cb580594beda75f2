// The log file held up (a disk or pipe that holds its writes), deleted or
// moved during the run, and a named pipe without a reader.
#include "session_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

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

// A pipe whose reader stops for 10 s, and a file system frozen for 5 s (where
// the machine can make one). Meanwhile the display lines go on, and
// afterwards the log holds every packet the unit sent.
struct hold {
    const char* name;
    int seconds;
    bool pipe;
};
class AHeldWrite : public session_table<hold> {};

TEST_P(AHeldWrite, HoldsUpNeitherTheReadingNorAnyLine)
{
    const hold& held = GetParam();
    const int packets = (held.seconds + 3) * 1000;
    const std::string log_name = s.dir + "/log.txt";
    loop_disk disk;
    int pipe_fd = -1;
    if (held.pipe) {
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
    // The console is read all along; the pipe, unless held, with it.
    const auto read_log = [&] {
        if (pipe_fd >= 0)
            read_pipe(pipe_fd, piped);
        return false;
    };
    ASSERT_TRUE(wait_for_output(s.logger, "\r", 5000)) << s.logger.said;
    wait_until(s.logger, read_log, 1000);
    if (!held.pipe) {
        ASSERT_TRUE(disk.freeze(true));
    }
    const auto shown = [&] {
        return static_cast<std::size_t>(
            std::count(s.logger.said.begin(), s.logger.said.end(), '\r'));
    };
    const std::size_t shown_before = shown();
    runs_on_for(s.logger, held.seconds * 1000);
    const std::size_t shown_during = shown() - shown_before;
    if (!held.pipe) {
        ASSERT_TRUE(disk.freeze(false));
    }
    // A hundred display lines a second at 1,000 packets/s: a fifth of them is
    // far more than a stopped reading would show.
    EXPECT_GT(shown_during, static_cast<std::size_t>(held.seconds) * 20);
    wait_until(
        s.logger,
        [&] {
            read_log();
            return s.logger.said.find("AHRS silent for 1 s") != std::string::npos;
        },
        20000);
    send_keys(s.logger, "q");
    int status = -1;
    wait_until(
        s.logger,
        [&] {
            read_log();
            int raw = 0;
            if (waitpid(s.logger.pid, &raw, WNOHANG) != s.logger.pid)
                return false;
            s.logger.pid = -1;
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return true;
        },
        10000);
    EXPECT_EQ(status, 0) << end_of(s.logger.said);
    if (held.pipe) {
        read_pipe(pipe_fd, piped);
        close(pipe_fd);
    }
    EXPECT_EQ(s.logger.said.find("log file"), std::string::npos) << end_of(s.logger.said);

    // Every packet, in order, by the count and by the unit's counter.
    const std::vector<std::string> lines =
        held.pipe ? lines_of(piped) : lines_of(read_file(disk.path + "/log.txt"));
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
}
INSTANTIATE_TEST_SUITE_P(LogFile, AHeldWrite,
                         testing::Values(hold{"Pipe", 10, true},
                                         hold{"FrozenFileSystem", 5, false}),
                         by_name());

// The log is a link into a directory of its own.
struct change {
    const char* name;
    bool deleted;
};
class ADeletedLog : public session_table<change> {};

TEST_P(ADeletedLog, IsSaidAndEndsWithStatusOneAndAMovedOneIsNot)
{
    const change& done = GetParam();
    const std::string log_name = s.dir + "/log.txt";
    fs::create_directory(s.dir + "/logs");
    fs::create_directory(s.dir + "/elsewhere");
    fs::create_symlink(s.dir + "/logs/log.txt", log_name);
    ASSERT_TRUE(start_unit(s, {"-r", "1000"}));
    ASSERT_TRUE(start_logger(s, {"-m", "c"}));
    ASSERT_TRUE(wait_for_output(s.logger, "\r", 5000)) << s.logger.said;
    ASSERT_TRUE(runs_on_for(s.logger, 1000));
    if (done.name == std::string("FileRemoved"))
        fs::remove(s.dir + "/logs/log.txt");
    else if (done.deleted)
        fs::remove_all(s.dir + "/logs");
    else
        fs::rename(s.dir + "/logs/log.txt", s.dir + "/elsewhere/log.txt");
    const std::string deleted = "log file " + log_name + " was deleted; lines are being lost\n";
    if (done.deleted) {
        EXPECT_TRUE(wait_for_output(s.logger, deleted, 5000)) << end_of(s.logger.said);
    }
    ASSERT_TRUE(runs_on_for(s.logger, done.deleted ? 500 : 2500));
    send_keys(s.logger, "q");
    const int status = wait_exit(s.logger, 5000);
    const std::string& said = s.logger.said;
    if (done.deleted) {
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
}
INSTANTIATE_TEST_SUITE_P(LogFile, ADeletedLog,
                         testing::Values(change{"FileRemoved", true},
                                         change{"DirectoryRemoved", true},
                                         change{"FileMovedToAnotherDirectory", false}),
                         by_name());

// A stop signal ends the wait with status 1 and nothing more said; a reader
// that comes lets the run start.
struct pipe_end {
    const char* name;
    int signal_number; // 0: a reader comes
};
class ANamedPipeWithoutAReader : public session_table<pipe_end> {};

TEST_P(ANamedPipeWithoutAReader, IsWaitedForUntilAStopSignalOrAReader)
{
    const std::string waiting = "waiting for a reader of log file ";
    const int signal_number = GetParam().signal_number;
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
        return;
    }
    const int reader = open(log_name.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string piped;
    wait_until(
        s.logger,
        [&] {
            read_pipe(reader, piped);
            return s.logger.said.find("AHRS silent for 1 s") != std::string::npos;
        },
        15000);
    send_keys(s.logger, "q");
    EXPECT_EQ(wait_exit(s.logger, 5000), 0);
    while (read_pipe(reader, piped))
        ;
    close(reader);
    const std::vector<long long> counts = counts_of(lines_of(piped));
    ASSERT_EQ(counts.size(), 300u);
    EXPECT_EQ(counts.back(), 300);
}
INSTANTIATE_TEST_SUITE_P(LogFile, ANamedPipeWithoutAReader,
                         testing::Values(pipe_end{"Interrupt", SIGINT},
                                         pipe_end{"Terminate", SIGTERM}, pipe_end{"Reader", 0}),
                         by_name());

} // namespace
