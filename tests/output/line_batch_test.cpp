// Log lines made in batches come out byte for byte as lines made one at a
// time: in order, each at its own pass's clock reading, none left behind.
#include "output/line_batch.h"

#include "files.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace imutap;

TEST(LineBatch, LinesComeOutAsIfMadeOneByOne)
{
    struct row {
        double dt;
        bool dos_time;
        double output_period;
    };
    // Count only; the clock; a reconstructed time that skips lines, falls
    // behind the clock and is pulled back to it.
    for (const row& r : {row{-1.0, false, 0.0}, row{0.0, true, 0.0}, row{0.002, false, 0.005}}) {
        std::uint8_t packet[30] = {0xFF, 0x7F, 0xFF, 0x80, 0x00, 0xFF, 0xFF, 0x00, 0x01, 0x02};
        std::vector<std::int64_t> clocks;
        for (std::int64_t i = 0, ms = 3; i < 2 * static_cast<std::int64_t>(line_batch_size) + 7;
             ++i)
            clocks.push_back(ms += (i % 17 == 0) ? 40 : 1);

        std::string expected;
        {
            log_writer writer{'a', r.dt, r.dos_time, r.output_period, {}};
            char line[log_line_capacity];
            for (std::size_t i = 0; i < clocks.size(); ++i) {
                packet[28] = static_cast<std::uint8_t>(i);
                expected.append(line, make_log_line(line, writer, static_cast<std::uint32_t>(i + 1),
                                                    packet, clocks[i]));
            }
        }

        temp_dir dir("imutap-batch");
        const std::string path = dir.path + "/log.txt";
        // Small blocks, so that the lines cross from block to block; enough of
        // them for every line, so that none waits for room.
        std::vector<char> buffer(16 * 4096);
        imutap::log_file log;
        int error = 0;
        ASSERT_EQ(log_open(path.c_str(), log, buffer.data(), 4096, 16, error),
                  file_open_result::opened);
        log_writer writer{'a', r.dt, r.dos_time, r.output_period, {}};
        line_batch batch;
        for (std::size_t i = 0; i < clocks.size(); ++i) {
            packet[28] = static_cast<std::uint8_t>(i);
            batch_line(batch, writer, log, static_cast<std::uint32_t>(i + 1), packet, 30,
                       clocks[i]);
        }
        make_batched_lines(batch, writer, log);
        ASSERT_TRUE(log_close(log));
        EXPECT_EQ(read_file(path), expected) << r.dt << ' ' << r.dos_time;
    }
}
