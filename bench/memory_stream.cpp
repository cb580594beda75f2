#include "memory_stream.h"

bool open_memory_stream(memory_stream& stream)
{
    stream.storage.assign(memory_size, '\0');
    stream.file = fmemopen(stream.storage.data(), stream.storage.size(), "w");
    return stream.file != nullptr;
}

void rewind_memory_stream(memory_stream& stream)
{
    std::rewind(stream.file);
}

void close_memory_stream(memory_stream& stream)
{
    if (stream.file != nullptr)
        std::fclose(stream.file);
    stream.file = nullptr;
}

void open_memory_log(memory_log& log)
{
    log.storage.assign(memory_size, '\0');
    log.file.block = 0;
    log.file.buffer = log.storage.data();
    log.file.capacity = log.storage.size();
    log.file.used = 0;
}

void open_memory_block(memory_block& block)
{
    block.storage.assign(memory_size, '\0');
    block.used = 0;
}
