// The log's lines on their way to the file. The run fills blocks with whole
// lines and hands each over to a writer thread of the log's own, which
// writes them in order: a write the system holds (a frozen file system, a
// slow card, a pipe or terminal that takes nothing) holds that thread only,
// and the run goes on reading the port. The blocks go round between the two
// through two lists without locks: the handed ones in order, the free ones
// last in, first out, so that a run whose writes keep up reuses the same
// few blocks (and memory) all along.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace imutap {

constexpr std::uint32_t log_queue_most_blocks = 256;
// The log file is looked at at most this often, while lines come, to tell
// that it was deleted.
constexpr std::uint32_t log_check_interval_ms = 1000;
// Room for the reasons of failures the run has not said yet.
constexpr std::uint32_t log_queue_reasons = 8;

struct log_queue {
    std::intptr_t file = -1;
    char* store = nullptr;
    std::size_t block_size = 0;
    std::uint32_t block_count = 0;
    // Each block's whole lines: their bytes and their number.
    std::size_t used[log_queue_most_blocks] = {};
    std::uint32_t lines[log_queue_most_blocks] = {};
    // Blocks handed over in order: `handed` counts them, `written` those the
    // writer is done with; `order` holds their numbers, by count.
    std::uint32_t order[log_queue_most_blocks] = {};
    std::atomic<std::uint32_t> handed{0};
    std::uint32_t written = 0;
    // The free blocks: taken by the run only, given back by the writer only.
    std::atomic<std::int32_t> free_top{-1};
    std::atomic<std::int32_t> free_next[log_queue_most_blocks];
    // What the writer tells the run; `news` goes up with each change. Writes
    // fail and are written again in turn: `failures` and `recoveries` count
    // each, with the system's reason of the latest failures.
    std::atomic<std::uint32_t> news{0};
    std::atomic<std::uint32_t> failures{0};
    std::atomic<std::uint32_t> recoveries{0};
    std::atomic<int> reasons[log_queue_reasons];
    std::atomic<std::uint64_t> lines_lost{0};
    std::atomic<std::int64_t> write_began_ms{-1}; // -1: no write under way
    std::atomic<bool> deleted{false};
    std::atomic<bool> ending{false};
    // The writer's own.
    std::uint64_t size = 0; // bytes in the file, all of them whole lines
    bool failing = false; // the latest write failed
    std::int64_t last_check_ms = 0;
    std::uint64_t lines_since_check = 0; // written since the file last had a name
    // The writer thread and its wake-up; without a thread the run writes.
    std::intptr_t thread = 0;
    std::intptr_t wake = -1;
    bool threaded = false;
};

// Shares out the store (`block_count` blocks of `block_size` bytes, at most
// log_queue_most_blocks) and starts the writer on the open file.
void log_queue_begin(log_queue& queue, std::intptr_t file, char* store, std::size_t block_size,
                     std::uint32_t block_count);

// A free block's number, or -1 when every block waits to be written.
std::int32_t log_queue_take(log_queue& queue);

// Hands a block of `used` bytes holding `lines` whole lines to the writer.
void log_queue_hand(log_queue& queue, std::int32_t block, std::size_t used, std::uint32_t lines);

// Since when the write under way has waited, in whole seconds (0 when none).
std::int64_t log_queue_held_s(const log_queue& queue);

// Has every block handed over written, looks at the file a last time, and
// ends the writer.
void log_queue_end(log_queue& queue);

} // namespace imutap
