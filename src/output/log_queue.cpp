#include "output/log_queue.h"

#include "system/console_platform.h"
#include "system/file_platform.h"
#include "system/thread_platform.h"

#include <algorithm>
#include <iterator>

namespace imutap {

namespace {

void tell_run(log_queue& queue)
{
    queue.news.fetch_add(1, std::memory_order_release);
}

// Writes one block. On failure the lines that did not go out whole are lost
// (counted), and a line cut short is cut off the file, so that the next
// line written starts on a line of its own. Once the file has no name left
// nothing is written any more: every line is lost.
void write_block(log_queue& queue, std::uint32_t block)
{
    const std::uint32_t lines = queue.lines[block];
    if (queue.deleted.load(std::memory_order_relaxed)) {
        queue.lines_lost.fetch_add(lines, std::memory_order_relaxed);
        return;
    }
    const char* const begin = queue.store + block * queue.block_size;
    const std::size_t used = queue.used[block];
    queue.write_began_ms.store(elapsed_ms(), std::memory_order_relaxed);
    std::uint32_t written = 0;
    const int error = file_write(queue.file, begin, static_cast<std::uint32_t>(used), written);
    queue.write_began_ms.store(-1, std::memory_order_relaxed);
    if (error == 0) {
        queue.size += used;
        queue.lines_since_check += lines;
        if (queue.failing) {
            queue.failing = false;
            queue.recoveries.fetch_add(1, std::memory_order_release);
            tell_run(queue);
        }
        return;
    }
    const char* const end = begin + written;
    const std::size_t whole = static_cast<std::size_t>(
        std::find(std::make_reverse_iterator(end), std::make_reverse_iterator(begin), '\n').base() -
        begin);
    if (whole != written)
        file_cut(queue.file, queue.size + whole);
    queue.size += whole;
    const auto lost = static_cast<std::uint32_t>(std::count(begin + whole, begin + used, '\n'));
    queue.lines_since_check += lines - lost;
    queue.lines_lost.fetch_add(lost, std::memory_order_relaxed);
    if (!queue.failing) {
        queue.failing = true;
        const std::uint32_t failure = queue.failures.load(std::memory_order_relaxed);
        queue.reasons[failure % log_queue_reasons].store(error, std::memory_order_relaxed);
        queue.failures.store(failure + 1, std::memory_order_release);
        tell_run(queue);
    }
}

void give_back(log_queue& queue, std::uint32_t block)
{
    std::int32_t top = queue.free_top.load(std::memory_order_relaxed);
    do
        queue.free_next[block].store(top, std::memory_order_relaxed);
    while (!queue.free_top.compare_exchange_weak(top, static_cast<std::int32_t>(block),
                                                 std::memory_order_release,
                                                 std::memory_order_relaxed));
}

// Writes every block handed over so far, in order, each given back once
// written (after what it tells the run, so that the run knows it when it
// takes the block again).
void write_handed(log_queue& queue)
{
    while (queue.written != queue.handed.load(std::memory_order_acquire)) {
        const std::uint32_t block = queue.order[queue.written % log_queue_most_blocks];
        write_block(queue, block);
        give_back(queue, block);
        ++queue.written;
    }
}

// At most once a second while lines come (and at the end): a file without a
// name any more takes no more lines; those written since it last had one
// are lost with it.
void check_name(log_queue& queue, bool at_end)
{
    const std::int64_t now = elapsed_ms();
    if (queue.deleted.load(std::memory_order_relaxed) ||
        (!at_end && now - queue.last_check_ms < log_check_interval_ms))
        return;
    queue.last_check_ms = now;
    if (!file_deleted(queue.file)) {
        queue.lines_since_check = 0;
        return;
    }
    queue.lines_lost.fetch_add(queue.lines_since_check, std::memory_order_relaxed);
    queue.lines_since_check = 0;
    queue.deleted.store(true, std::memory_order_release);
    tell_run(queue);
}

// Sleeps until blocks come: a silent unit costs no wake-ups. The file is
// looked at before they are written, so that lines that would go into a
// file without a name are counted as lost instead.
void run_writer(void* context)
{
    log_queue& queue = *static_cast<log_queue*>(context);
    for (;;) {
        const bool ending = queue.ending.load(std::memory_order_acquire);
        check_name(queue, ending);
        write_handed(queue);
        if (ending)
            return;
        wake_wait(queue.wake, wake_wait_forever);
    }
}

} // namespace

void log_queue_begin(log_queue& queue, std::intptr_t file, char* store, std::size_t block_size,
                     std::uint32_t block_count)
{
    queue.file = file;
    queue.store = store;
    queue.block_size = block_size;
    queue.block_count = std::min(block_count, log_queue_most_blocks);
    queue.last_check_ms = elapsed_ms();
    // Block 0 on top: a run that keeps up uses the first few only.
    for (std::uint32_t block = queue.block_count; block-- > 0;)
        give_back(queue, block);
    queue.threaded = wake_open(queue.wake);
    if (queue.threaded && !thread_start(queue.thread, run_writer, &queue)) {
        wake_close(queue.wake);
        queue.threaded = false;
    }
}

std::int32_t log_queue_take(log_queue& queue)
{
    std::int32_t top = queue.free_top.load(std::memory_order_acquire);
    // Only the run takes blocks, so the top cannot be taken and given back
    // meanwhile: the one it points to stays the next.
    while (top >= 0 && !queue.free_top.compare_exchange_weak(
                           top, queue.free_next[top].load(std::memory_order_relaxed),
                           std::memory_order_acquire, std::memory_order_acquire)) {
    }
    return top;
}

void log_queue_hand(log_queue& queue, std::int32_t block, std::size_t used, std::uint32_t lines)
{
    const auto number = static_cast<std::uint32_t>(block);
    queue.used[number] = used;
    queue.lines[number] = lines;
    const std::uint32_t handed = queue.handed.load(std::memory_order_relaxed);
    queue.order[handed % log_queue_most_blocks] = number;
    queue.handed.store(handed + 1, std::memory_order_release);
    if (queue.threaded) {
        wake_send(queue.wake);
        return;
    }
    check_name(queue, false);
    write_handed(queue);
}

std::int64_t log_queue_held_s(const log_queue& queue)
{
    const std::int64_t began = queue.write_began_ms.load(std::memory_order_relaxed);
    const std::int64_t held = began < 0 ? 0 : elapsed_ms() - began;
    return held > 0 ? held / 1000 : 0;
}

void log_queue_end(log_queue& queue)
{
    queue.ending.store(true, std::memory_order_release);
    if (!queue.threaded) {
        check_name(queue, true);
        write_handed(queue);
        return;
    }
    wake_send(queue.wake);
    thread_join(queue.thread);
    wake_close(queue.wake);
    queue.threaded = false;
}

} // namespace imutap
