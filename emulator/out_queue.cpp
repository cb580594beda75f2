#include "out_queue.h"

#include <cstring>

namespace {

// Where the oldest byte worth keeping starts: the begin of a partly written item.
size_t keep_from(const out_queue& q)
{
    return q.first < q.last ? q.items[q.first].begin : q.head;
}

void compact(out_queue& q)
{
    size_t base = keep_from(q);
    if (base == 0 && q.first == 0)
        return;
    std::memmove(q.bytes.data(), q.bytes.data() + base, q.tail - base);
    size_t count = q.last - q.first;
    std::memmove(static_cast<void*>(q.items.data()), q.items.data() + q.first, count * sizeof(queue_item));
    for (size_t i = 0; i < count; ++i) {
        q.items[i].begin -= base;
        q.items[i].end -= base;
    }
    q.head -= base;
    q.tail -= base;
    if (q.hold_at != 0)
        q.hold_at -= base;
    q.first = 0;
    q.last = count;
}

} // namespace

void queue_init(out_queue& q, size_t byte_capacity, size_t item_capacity)
{
    q.bytes.assign(byte_capacity, 0);
    q.items.assign(item_capacity, queue_item{});
    queue_clear(q);
}

size_t queue_pending(const out_queue& q)
{
    return q.tail - q.head;
}

size_t queue_room_bytes(const out_queue& q)
{
    return q.bytes.size() - (q.tail - keep_from(q));
}

size_t queue_room_items(const out_queue& q)
{
    return q.items.size() - (q.last - q.first);
}

bool queue_has_room(const out_queue& q, size_t bytes, size_t items)
{
    return queue_room_bytes(q) >= bytes && queue_room_items(q) >= items;
}

uint8_t* queue_reserve(out_queue& q, size_t bytes)
{
    if (q.bytes.size() - q.tail < bytes || q.last == q.items.size())
        compact(q);
    return q.bytes.data() + q.tail;
}

void queue_commit(out_queue& q, size_t length, queue_item item)
{
    item.begin = q.tail;
    item.end = q.tail + length;
    q.tail = item.end;
    if (item.hold)
        q.hold_at = item.end;
    q.items[q.last++] = item;
}

size_t queue_writable(const out_queue& q)
{
    size_t limit = q.hold_at != 0 ? q.hold_at : q.tail;
    return limit - q.head;
}

const uint8_t* queue_front(const out_queue& q)
{
    return q.bytes.data() + q.head;
}

void queue_consume(out_queue& q, size_t written)
{
    q.head += written;
}

bool queue_pop_done(out_queue& q, queue_item& done)
{
    if (q.first == q.last || q.items[q.first].end > q.head)
        return false;
    done = q.items[q.first++];
    if (done.hold)
        q.hold_at = 0;
    if (q.first == q.last && q.head == q.tail)
        queue_clear(q);
    return true;
}

cut_result queue_cut(out_queue& q, cut_scope scope)
{
    cut_result cut;
    size_t unsent = q.first;
    while (unsent < q.last && q.items[unsent].begin < q.head)
        ++unsent;
    size_t from = q.last;
    if (scope == cut_scope::unsent)
        from = unsent;
    else
        while (from > unsent && q.items[from - 1].kind == item_kind::stream_packet)
            --from;
    if (from == q.last)
        return cut;
    for (size_t i = from; i < q.last; ++i) {
        const queue_item& item = q.items[i];
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
    size_t new_tail = q.items[from].begin;
    cut.bytes = q.tail - new_tail;
    q.tail = new_tail;
    q.last = from;
    if (q.hold_at > new_tail)
        q.hold_at = 0;
    return cut;
}

void queue_clear(out_queue& q)
{
    q.head = q.tail = 0;
    q.first = q.last = 0;
    q.hold_at = 0;
}
