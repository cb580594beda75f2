// The log file against a kill, a full disk, a second logger and a name that
// is the serial port itself.
#include "session_test.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
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
    ~small_disk()
    {
        if (mounted)
            umount2(path.c_str(), MNT_DETACH);
    }
};

class LogFile : public session_test {};
class AKill : public session_table<int> {};

TEST_P(AKill, LosesAtMostAboutASecondOfLines)
{
    const int rate = GetParam();
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
}
INSTANTIATE_TEST_SUITE_P(LogFile, AKill, testing::Values(100, 1000),
                         testing::PrintToStringParamName());

// The disk fills after about a second's lines and has room again a second
// after the logger said so. A file-size limit is raised from outside (the
// logger itself keeps SIGXFSZ from killing it); a small file system has its
// ballast deleted.
struct full_disk {
    const char* name;
    const char* reason;
};
class AFullDisk : public session_table<full_disk> {};

TEST_P(AFullDisk, KeepsWholeLinesCountsTheLostAndEndsWithStatusOne)
{
    const bool limit = GetParam().reason == std::string("File too large");
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
        std::string("log file write failed: ") + GetParam().reason + "; lines are being lost\n";
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
    long long missing = 0;
    long long previous = 0;
    long long offset = -1;
    for (const std::string& line : log_lines(s)) {
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
    EXPECT_EQ(occurrences(s.logger.said, failed), 1u) << "said once";
    EXPECT_NE(s.logger.said.find(std::to_string(missing) +
                                 " lines could not be written to the log file\n"),
              std::string::npos)
        << end_of(s.logger.said);
}
INSTANTIATE_TEST_SUITE_P(LogFile, AFullDisk,
                         testing::Values(full_disk{"FileSizeLimit", "File too large"},
                                         full_disk{"SmallFileSystem", "No space left on device"}),
                         by_name());

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

} // namespace
