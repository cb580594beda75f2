// The output queue: fixed storage, items reserved, written and cut.
#include "out_queue.h"

#include <cstring>

namespace imutap_emu {

namespace {

// Where the oldest byte worth keeping starts: the begin of a partly written item.
std::size_t keep_from(const out_queue& queue)
{
    return queue.first < queue.last ? queue.items[queue.first].begin : queue.head;
}

void compact(out_queue& queue)
{
    std::size_t base = keep_from(queue);
    if (base == 0 && queue.first == 0)
        return;
    std::memmove(queue.bytes.data(), queue.bytes.data() + base, queue.tail - base);
    std::size_t count = queue.last - queue.first;
    std::memmove(static_cast<void*>(queue.items.data()), queue.items.data() + queue.first,
                 count * sizeof(queue_item));
    for (std::size_t i = 0; i < count; ++i) {
        queue.items[i].begin -= base;
        queue.items[i].end -= base;
    }
    queue.head -= base;
    queue.tail -= base;
    if (queue.hold_at != 0)
        queue.hold_at -= base;
    queue.first = 0;
    queue.last = count;
}

} // namespace

void queue_init(out_queue& queue, std::size_t byte_capacity, std::size_t item_capacity)
{
    queue.bytes.assign(byte_capacity, 0);
    queue.items.assign(item_capacity, queue_item{});
    queue_clear(queue);
}

std::size_t queue_pending(const out_queue& queue)
{
    return queue.tail - queue.head;
}

std::size_t queue_room_bytes(const out_queue& queue)
{
    return queue.bytes.size() - (queue.tail - keep_from(queue));
}

std::size_t queue_room_items(const out_queue& queue)
{
    return queue.items.size() - (queue.last - queue.first);
}

bool queue_has_room(const out_queue& queue, std::size_t bytes, std::size_t items)
{
    return queue_room_bytes(queue) >= bytes && queue_room_items(queue) >= items;
}

std::uint8_t* queue_reserve(out_queue& queue, std::size_t bytes)
{
    if (queue.bytes.size() - queue.tail < bytes || queue.last == queue.items.size())
        compact(queue);
    return queue.bytes.data() + queue.tail;
}

void queue_commit(out_queue& queue, std::size_t length, queue_item item)
{
    item.begin = queue.tail;
    item.end = queue.tail + length;
    queue.tail = item.end;
    if (item.hold)
        queue.hold_at = item.end;
    queue.items[queue.last++] = item;
}

std::size_t queue_writable(const out_queue& queue)
{
    std::size_t limit = queue.hold_at != 0 ? queue.hold_at : queue.tail;
    return limit - queue.head;
}

const std::uint8_t* queue_front(const out_queue& queue)
{
    return queue.bytes.data() + queue.head;
}

void queue_consume(out_queue& queue, std::size_t written)
{
    queue.head += written;
}

bool queue_pop_done(out_queue& queue, queue_item& done)
{
    if (queue.first == queue.last || queue.items[queue.first].end > queue.head)
        return false;
    done = queue.items[queue.first++];
    if (done.hold)
        queue.hold_at = 0;
    if (queue.first == queue.last && queue.head == queue.tail)
        queue_clear(queue);
    return true;
}

cut_result queue_cut(out_queue& queue, cut_scope scope)
{
    cut_result cut;
    std::size_t unsent = queue.first;
    while (unsent < queue.last && queue.items[unsent].begin < queue.head)
        ++unsent;
    std::size_t from = queue.last;
    if (scope == cut_scope::unsent)
        from = unsent;
    else
        while (from > unsent && queue.items[from - 1].kind == item_kind::stream_packet)
            --from;
    if (from == queue.last)
        return cut;
    for (std::size_t i = from; i < queue.last; ++i) {
        const queue_item& item = queue.items[i];
        if (item.kind != item_kind::reply && !cut.has_packet) {
            cut.has_packet = true;
            cut.first_seq = item.seq;
        }
        if (item.kind == item_kind::stream_packet) {
            if (cut.stream_packets == 0)
                cut.first_stream_index = item.stream_index;
            ++cut.stream_packets;
        }
    }
    std::size_t new_tail = queue.items[from].begin;
    cut.bytes = queue.tail - new_tail;
    queue.tail = new_tail;
    queue.last = from;
    if (queue.hold_at > new_tail)
        queue.hold_at = 0;
    return cut;
}

void queue_clear(out_queue& queue)
{
    queue.head = queue.tail = 0;
    queue.first = queue.last = 0;
    queue.hold_at = 0;
}

} // namespace imutap_emu
