// The bytes waiting to go to the logger, as items the unit can stop between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace imutap_emu {

// Bytes waiting to go to the logger, as a run of items (one reply byte, one answer
// to G, or one packet of continuous output), so that the unit can stop at an item's
// end and knows which packets really went out. Storage is set once; nothing is
// allocated afterwards.

enum class item_kind : std::uint8_t {
    reply,
    g_packet,
    stream_packet
};

// Faults applied to a packet.
constexpr std::uint8_t fault_checksum = 1;
constexpr std::uint8_t fault_header = 2;
constexpr std::uint8_t fault_dropped_byte = 4;

struct queue_item {
    std::size_t begin = 0;
    std::size_t end = 0;
    item_kind kind = item_kind::reply;
    std::uint8_t faults = 0;
    bool hold = false; // the writer stops at this item's end until it is accounted for
    std::uint64_t seq = 0; // packets: the sequence number they carry
    std::uint64_t stream_index = 0; // stream packets: 1-based index in continuous output
};

struct out_queue {
    std::vector<std::uint8_t> bytes;
    std::vector<queue_item> items;
    std::size_t head = 0; // next byte to write
    std::size_t tail = 0; // end of the queued bytes
    std::size_t first = 0; // oldest item not yet accounted for
    std::size_t last = 0; // one past the newest item
    std::size_t hold_at = 0; // nonzero: end of a hold item
};

// What queue_cut threw away.
struct cut_result {
    std::size_t bytes = 0;
    bool has_packet = false;
    std::uint64_t first_seq = 0; // lowest sequence number among the packets
    std::uint64_t stream_packets = 0;
    std::uint64_t first_stream_index = 0; // lowest stream index among them
};

void queue_init(out_queue& queue, std::size_t byte_capacity, std::size_t item_capacity);
std::size_t queue_pending(const out_queue& queue);
bool queue_has_room(const out_queue& queue, std::size_t bytes, std::size_t items);
std::size_t queue_room_bytes(const out_queue& queue);
std::size_t queue_room_items(const out_queue& queue);

// Room for `bytes` at the tail (compacting if needed); the caller checked queue_has_room.
std::uint8_t* queue_reserve(out_queue& queue, std::size_t bytes);
// Makes `length` reserved bytes an item; its begin and end are set here.
void queue_commit(out_queue& queue, std::size_t length, queue_item item);

// Bytes the writer may send now: up to the hold item's end, if there is one.
std::size_t queue_writable(const out_queue& queue);
const std::uint8_t* queue_front(const out_queue& queue);
void queue_consume(out_queue& queue, std::size_t written);

// Takes the oldest item whose bytes have all been written, if any.
bool queue_pop_done(out_queue& queue, queue_item& done);

// Which items queue_cut throws away: all that have not begun, or only the stream
// packets among them (always the queue's last items: they are built behind every answer).
enum class cut_scope {
    unsent,
    unsent_stream
};

// Throws away items not yet begun; an item already begun goes out in full.
cut_result queue_cut(out_queue& queue, cut_scope scope);
void queue_clear(out_queue& queue);

} // namespace imutap_emu
