// Where the per-packet benchmarks write: stdio streams onto fixed blocks of
// memory (the console), the log's own block as the run fills it, here one
// large block in memory that is emptied instead of handed to the log's
// writer thread, and a plain block for the memcpy baseline. All are rewound
// at the same cadence.
#pragma once

#include "output/log_file.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

struct memory_stream {
    std::vector<char> storage;
    std::FILE* file = nullptr;
};

struct memory_log {
    std::vector<char> storage;
    imutap::log_file file;
};

struct memory_block {
    std::vector<char> storage;
    std::size_t used = 0;
};

// Room for everything written between two rewinds.
constexpr std::size_t memory_size = 1 << 20;

bool open_memory_stream(memory_stream& stream);
void rewind_memory_stream(memory_stream& stream);
void close_memory_stream(memory_stream& stream);

void open_memory_log(memory_log& log);

inline void rewind_memory_log(memory_log& log)
{
    log.file.used = 0;
}

void open_memory_block(memory_block& block);

inline void copy_to_block(memory_block& block, const char* bytes, std::size_t count)
{
    std::memcpy(block.storage.data() + block.used, bytes, count);
    block.used += count;
}

inline void rewind_memory_block(memory_block& block)
{
    block.used = 0;
}
