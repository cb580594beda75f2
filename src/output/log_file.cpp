#include "output/log_file.h"

namespace imutap {

namespace {

void tell(const log_file& log, log_news what, long long number = 0, int error = 0)
{
    if (log.tell != nullptr)
        log.tell(log, log_note{what, number, error});
}

std::uint64_t lines_lost_so_far(const log_file& log)
{
    return log.queue.lines_lost.load(std::memory_order_relaxed) + log.lines_dropped;
}

// "Written again" once nothing is lost any more: the writer's latest write
// went through and the lines find room again.
void say_written_again(log_file& log)
{
    if (!log.losing_said || log.dropping || log.failures_seen != log.recoveries_seen)
        return;
    log.losing_said = false;
    tell(log, log_news::written_again, static_cast<long long>(lines_lost_so_far(log)));
}

// Takes a free block for the next lines. Without one the lines are dropped
// until the writer gives one back, and that is said like a failed write.
void take_block(log_file& log)
{
    const std::int32_t block = log_queue_take(log.queue);
    if (block < 0) {
        if (!log.dropping) {
            log.dropping = true;
            log_say_news(log);
            if (!log.losing_said) {
                log.losing_said = true;
                tell(log, log_news::write_blocked,
                     static_cast<long long>(log_queue_held_s(log.queue)));
            }
        }
        return;
    }
    log.block = block;
    log.buffer = log.queue.store + static_cast<std::size_t>(block) * log.queue.block_size;
    log.capacity = log.queue.block_size;
    if (log.dropping) {
        log.dropping = false;
        log_say_news(log);
        say_written_again(log);
    }
}

// Hands the block over when it holds lines.
void hand_over(log_file& log)
{
    if (log.block < 0 || log.used == 0)
        return;
    log_queue_hand(log.queue, log.block, log.used, log.lines);
    log.block = -1;
    log.buffer = nullptr;
    log.capacity = 0;
    log.used = 0;
    log.lines = 0;
}

} // namespace

file_open_result log_open(const char* name, log_file& log, char* store, std::size_t block_size,
                          std::uint32_t block_count, int& error)
{
    log.name = name;
    std::intptr_t handle = -1;
    const file_open_result opened = file_create_exclusive(name, handle, error);
    if (opened != file_open_result::opened)
        return opened;
    log_queue_begin(log.queue, handle, store, block_size, block_count);
    take_block(log);
    return opened;
}

bool log_empty(log_file& log)
{
    const int error = file_empty(log.queue.file);
    if (error == 0)
        return true;
    tell(log, log_news::cannot_empty, 0, error);
    return false;
}

void log_write_out(log_file& log)
{
    if (log.block >= 0 && log.used == 0)
        return;
    hand_over(log);
    take_block(log);
}

bool log_make_room(log_file& log, std::size_t length)
{
    log_write_out(log);
    if (log.capacity - log.used >= length)
        return true;
    ++log.lines_dropped;
    return false;
}

void log_say_news(log_file& log)
{
    log_queue& queue = log.queue;
    log.seen_news = queue.news.load(std::memory_order_acquire);
    // A write fails, then one goes through again, then the next fails:
    // each recovery follows its failure, so they are said in that order.
    const std::uint32_t failures = queue.failures.load(std::memory_order_acquire);
    std::uint32_t recoveries = queue.recoveries.load(std::memory_order_acquire);
    if (recoveries > failures)
        recoveries = failures; // both came after the failures were read: next look
    while (log.failures_seen != failures || log.recoveries_seen != recoveries) {
        if (log.failures_seen == log.recoveries_seen) {
            const int reason_code = queue.reasons[log.failures_seen % log_queue_reasons].load(
                std::memory_order_relaxed);
            ++log.failures_seen;
            if (!log.losing_said) {
                log.losing_said = true;
                tell(log, log_news::write_failed, 0, reason_code);
            }
        } else {
            ++log.recoveries_seen;
            say_written_again(log);
        }
    }
    if (!log.deleted_said && queue.deleted.load(std::memory_order_acquire)) {
        log.deleted_said = true;
        tell(log, log_news::deleted);
    }
}

bool log_close(log_file& log)
{
    hand_over(log);
    log_queue_end(log.queue);
    log_say_news(log);
    const bool closed = file_close(log.queue.file);
    log.queue.file = -1;
    log.lines_lost = lines_lost_so_far(log);
    log.deleted = log.queue.deleted.load(std::memory_order_relaxed);
    return closed;
}

} // namespace imutap
