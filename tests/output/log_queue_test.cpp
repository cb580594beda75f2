// The log's queue of blocks when the writer is held: the lines that find no
// room are counted and said like a failed write, the others reach the file
// whole and in order, and the run hears when the blocks move again.
#include "output/log_file.h"
#include "run/findings.h"

#include "files.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace imutap;

namespace {

// Standard output into a file for as long as the object lives.
class captured_output {
  public:
    explicit captured_output(const std::string& path)
    {
        std::fflush(stdout);
        kept_ = dup(STDOUT_FILENO);
        const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(file, STDOUT_FILENO);
        close(file);
    }
    ~captured_output()
    {
        std::fflush(stdout);
        dup2(kept_, STDOUT_FILENO);
        close(kept_);
    }
    captured_output(const captured_output&) = delete;
    captured_output& operator=(const captured_output&) = delete;

  private:
    int kept_ = -1;
};

// Reads what the pipe gives until it has given nothing for `quiet_ms`.
void read_until_quiet(int fd, std::string& text, int quiet_ms)
{
    for (;;) {
        struct pollfd waiting {
            fd, POLLIN, 0
        };
        if (poll(&waiting, 1, quiet_ms) <= 0)
            return;
        char buffer[65536];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return;
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

void put_numbered_lines(log_file& log, int first, int last)
{
    for (int number = first; number <= last; ++number) {
        char line[64];
        const int length = std::snprintf(line, sizeof line, "%d %040d\n", number, number);
        log_put_line(log, line, static_cast<std::size_t>(length));
    }
}

} // namespace

TEST(LogQueue, LinesFindingNoRoomAreCountedAndSaidAndTheRestWrittenWholeInOrder)
{
    // A named pipe nobody reads for a while: the pipe takes 64 KiB, the four
    // blocks 16 KiB more, and then the lines find no room.
    temp_dir dir("imutap-queue");
    const std::string path = dir.path + "/pipe";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::vector<char> store(4 * 4096);
    log_file log;
    log.tell = say_log_note;
    int error = 0;
    std::string piped;
    {
        captured_output said(dir.path + "/said.txt");
        ASSERT_EQ(log_open(path.c_str(), log, store.data(), 4096, 4, error),
                  file_open_result::opened);
        put_numbered_lines(log, 1, 3000);
        log_write_out(log);
        EXPECT_GT(log.lines_dropped, 0u);
        // The reader comes back: the writer moves and gives blocks back, and
        // the next lines (one block's worth) find room again.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (log.queue.free_top.load() < 0 && std::chrono::steady_clock::now() < end)
            read_until_quiet(reader, piped, 10);
        put_numbered_lines(log, 3001, 3060);
        log_write_out(log);
        read_until_quiet(reader, piped, 50);
        ASSERT_TRUE(log_close(log));
    }
    read_until_quiet(reader, piped, 50);
    close(reader);

    // Said in turns (a writer that moves slowly may free a block and be held
    // again), the last with every line lost.
    const std::vector<std::string> said = lines_of(read_file(dir.path + "/said.txt"));
    ASSERT_FALSE(said.empty());
    ASSERT_EQ(said.size() % 2, 0u);
    for (std::size_t i = 0; i < said.size(); i += 2) {
        EXPECT_EQ(said[i], "log file write blocked for 0 s; lines are being lost");
        EXPECT_EQ(said[i + 1].rfind("log file written again; ", 0), 0u) << said[i + 1];
    }
    EXPECT_EQ(said.back(), "log file written again; " + std::to_string(log.lines_dropped) +
                               " lines lost so far");
    EXPECT_EQ(log.lines_lost, log.lines_dropped);
    // Whole lines, in order, each once; what is missing is what was counted.
    const std::vector<std::string> lines = lines_of(piped);
    ASSERT_FALSE(piped.empty());
    EXPECT_EQ(piped.back(), '\n');
    int previous = 0;
    for (const std::string& line : lines) {
        const int number = std::stoi(line);
        char expected_line[64];
        std::snprintf(expected_line, sizeof expected_line, "%d %040d", number, number);
        ASSERT_EQ(line, expected_line);
        ASSERT_GT(number, previous);
        previous = number;
    }
    EXPECT_EQ(previous, 3060);
    EXPECT_EQ(lines.size() + log.lines_lost, 3060u);
}
