// What the logger does with each packet it has read, in nanoseconds per
// packet: the check, the clock reading, the packet kept for its log line in
// the line batch (the lines made into the log's block a batch at a time)
// and, for every tenth packet, the display line, all written to memory;
// beside it a memcpy of the same finished bytes.
// Also the parts on their own, and the two tests each pass makes besides the
// packet (the key test and the stop flag).
#include "median_report.h"
#include "memory_stream.h"
#include "packet_samples.h"

#include "output/display.h"
#include "output/format.h"
#include "output/line_batch.h"
#include "output/log_line.h"
#include "packet/decode.h"
#include "packet/packet.h"
#include "system/console_platform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

using namespace imutap;

namespace {

constexpr std::size_t sample_count = 4096;
constexpr std::size_t rewind_interval = 1024; // divides sample_count
// The packets-read counts of a long run: seven digits.
constexpr std::uint32_t first_count = 1000000;
constexpr std::uint32_t display_interval = 10;
constexpr char modes[] = {'a', 'c', 'r'};

struct line_prefix {
    const char* name;
    double dt; // the -t value; negative: the count alone
};
constexpr line_prefix line_prefixes[] = {{"count", -1.0}, {"t0.01", 0.01}};

// The bytes a run writes for each sample packet, finished: its log line and
// its display line (written only for every tenth packet).
struct finished_lines {
    std::vector<std::string> log;
    std::vector<std::string> display;
};

finished_lines finish_lines(const packet_samples& samples, double dt)
{
    finished_lines lines;
    log_writer writer{samples.mode, dt, false, 0.0, {}};
    const std::int64_t clock_ms = elapsed_ms();
    std::uint32_t packets_read = first_count;
    char line[log_line_capacity];
    char shown[display_line_capacity + longest_number];
    for (std::size_t i = 0; i < samples.count; ++i) {
        const std::uint8_t* packet = packet_at(samples, i);
        lines.log.emplace_back(line, make_log_line(line, writer, ++packets_read, packet, clock_ms));
        lines.display.emplace_back(shown, format_display_line(shown, samples.mode, packet));
    }
    return lines;
}

// Steps through the samples; both memories go back to their start together.
bool next_sample(std::size_t& index, std::size_t count)
{
    if (++index % rewind_interval != 0)
        return false;
    if (index == count)
        index = 0;
    return true;
}

// A pass of the run with decimation 1, after the read: check, count, the
// display line every tenth packet, the clock, the packet kept for its line.
void packet_path(benchmark::State& state, const packet_samples& samples, double dt)
{
    memory_log log;
    memory_stream console;
    open_memory_log(log);
    if (!open_memory_stream(console)) {
        state.SkipWithError("fmemopen failed");
        return;
    }
    log_writer writer{samples.mode, dt, false, 0.0, {}};
    line_batch batch;
    std::uint32_t packets_read = first_count;
    std::size_t index = 0;
    char shown[display_line_capacity + longest_number];
    for (auto _ : state) {
        const std::uint8_t* packet = packet_at(samples, index);
        const bool good =
            check_packet(samples.mode, packet, samples.length) == packet_verdict::good;
        ++packets_read;
        if (packets_read % display_interval == 0 && good)
            std::fwrite(shown, 1, format_display_line(shown, samples.mode, packet), console.file);
        const std::int64_t now_ms = elapsed_ms();
        if (good)
            batch_line(batch, writer, log.file, packets_read, packet, samples.length, now_ms);
        if (next_sample(index, samples.count)) {
            rewind_memory_log(log);
            rewind_memory_stream(console);
        }
    }
    close_memory_stream(console);
}

// The same bytes as packet_path writes, already made: only copied.
void memcpy_baseline(benchmark::State& state, const finished_lines& lines)
{
    memory_block log;
    memory_block console;
    open_memory_block(log);
    open_memory_block(console);
    std::uint32_t packets_read = first_count;
    std::size_t index = 0;
    for (auto _ : state) {
        const std::string& line = lines.log[index];
        copy_to_block(log, line.data(), line.size());
        if (++packets_read % display_interval == 0) {
            const std::string& shown = lines.display[index];
            copy_to_block(console, shown.data(), shown.size());
        }
        benchmark::ClobberMemory();
        if (next_sample(index, lines.log.size())) {
            rewind_memory_block(log);
            rewind_memory_block(console);
        }
    }
    benchmark::DoNotOptimize(log.storage.data());
    benchmark::DoNotOptimize(console.storage.data());
}

void check_only(benchmark::State& state, const packet_samples& samples)
{
    std::size_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            check_packet(samples.mode, packet_at(samples, index), samples.length));
        if (++index == samples.count)
            index = 0;
    }
}

void decode_only(benchmark::State& state, const packet_samples& samples)
{
    std::size_t index = 0;
    for (auto _ : state) {
        decoded_packet values = decode_packet(samples.mode, packet_at(samples, index));
        benchmark::DoNotOptimize(values);
        if (++index == samples.count)
            index = 0;
    }
}

// The log lines alone, through the line batch, at one clock reading.
void log_line_only(benchmark::State& state, const packet_samples& samples, double dt)
{
    memory_log log;
    open_memory_log(log);
    log_writer writer{samples.mode, dt, false, 0.0, {}};
    line_batch batch;
    const std::int64_t clock_ms = elapsed_ms();
    std::uint32_t packets_read = first_count;
    std::size_t index = 0;
    for (auto _ : state) {
        batch_line(batch, writer, log.file, ++packets_read, packet_at(samples, index),
                   samples.length, clock_ms);
        if (next_sample(index, samples.count))
            rewind_memory_log(log);
    }
}

// Every packet's display line (the run writes one for every tenth).
void display_line_only(benchmark::State& state, const packet_samples& samples)
{
    memory_stream console;
    if (!open_memory_stream(console)) {
        state.SkipWithError("fmemopen failed");
        return;
    }
    std::size_t index = 0;
    char shown[display_line_capacity + longest_number];
    for (auto _ : state) {
        std::fwrite(shown, 1, format_display_line(shown, samples.mode, packet_at(samples, index)),
                    console.file);
        if (next_sample(index, samples.count))
            rewind_memory_stream(console);
    }
    close_memory_stream(console);
}

// The key test of every pass, with nothing waiting: as the run does it,
// with the keyboard watcher running.
void key_test(benchmark::State& state)
{
    keyboard_begin();
    for (auto _ : state)
        benchmark::DoNotOptimize(key_waiting());
    keyboard_end();
}

// The same test without the watcher: a poll of standard input each time.
void key_poll(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(key_waiting());
}

// The stop flag looked at before every read.
void stop_flag(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(stop_requested());
}

// The clock read once a pass.
void clock_read(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(elapsed_ms());
}

// Standard input as under the emulated unit's --keys: an empty pipe whose
// writer stays open, so the key test finds nothing and never an end.
bool empty_pipe_as_input()
{
    int ends[2];
    if (pipe(ends) != 0 || dup2(ends[0], STDIN_FILENO) < 0)
        return false;
    close(ends[0]);
    return true; // the writing end stays open until exit
}

std::string name_of(const char* what, char mode, const char* prefix = nullptr)
{
    std::string name = std::string(what) + "/" + mode;
    if (prefix != nullptr)
        name += std::string("/") + prefix;
    return name;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!empty_pipe_as_input()) {
        std::perror("pipe");
        return 1;
    }

    // Built whole before any benchmark refers to them.
    std::vector<packet_samples> samples;
    for (char mode : modes)
        samples.push_back(make_packet_samples(mode, sample_count));
    std::vector<finished_lines> lines;
    for (const packet_samples& s : samples)
        for (const line_prefix& prefix : line_prefixes)
            lines.push_back(finish_lines(s, prefix.dt));

    std::size_t line_set = 0;
    for (const packet_samples& s : samples) {
        for (const line_prefix& prefix : line_prefixes) {
            const double dt = prefix.dt;
            const finished_lines& finished = lines[line_set++];
            benchmark::RegisterBenchmark(
                name_of("path", s.mode, prefix.name).c_str(),
                [&s, dt](benchmark::State& st) { packet_path(st, s, dt); });
            benchmark::RegisterBenchmark(
                name_of("baseline", s.mode, prefix.name).c_str(),
                [&finished](benchmark::State& st) { memcpy_baseline(st, finished); });
            benchmark::RegisterBenchmark(
                name_of("log_line", s.mode, prefix.name).c_str(),
                [&s, dt](benchmark::State& st) { log_line_only(st, s, dt); });
        }
        benchmark::RegisterBenchmark(name_of("check", s.mode).c_str(),
                                     [&s](benchmark::State& st) { check_only(st, s); });
        benchmark::RegisterBenchmark(name_of("decode", s.mode).c_str(),
                                     [&s](benchmark::State& st) { decode_only(st, s); });
        benchmark::RegisterBenchmark(name_of("display_line", s.mode).c_str(),
                                     [&s](benchmark::State& st) { display_line_only(st, s); });
    }
    benchmark::RegisterBenchmark("pass/key_waiting", key_test);
    benchmark::RegisterBenchmark("pass/key_poll", key_poll);
    benchmark::RegisterBenchmark("pass/stop_requested", stop_flag);
    benchmark::RegisterBenchmark("pass/elapsed_ms", clock_read);

    timings collected;
    median_reporter reporter(collected);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    print_medians(collected);
    return 0;
}
