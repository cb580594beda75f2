// Packet storage whose last byte is the last readable byte of a page: any
// read past the end of the packet faults, in every build.
#pragma once

#include "packets.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class guarded_bytes {
  public:
    explicit guarded_bytes(std::size_t size)
        : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE)))
    {
        void* map =
            mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = static_cast<std::uint8_t*>(map);
        mprotect(base_ + page_, page_, PROT_NONE);
        data_ = base_ + page_ - size;
        size_ = size;
    }
    guarded_bytes(const std::vector<std::uint8_t>& bytes) : guarded_bytes(bytes.size())
    {
        std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~guarded_bytes()
    {
        munmap(base_, 2 * page_);
    }
    guarded_bytes(const guarded_bytes&) = delete;
    guarded_bytes& operator=(const guarded_bytes&) = delete;

    std::uint8_t* data()
    {
        return data_;
    }
    std::uint8_t& operator[](std::size_t i)
    {
        return data_[i];
    }
    std::size_t size() const
    {
        return size_;
    }
    // The first unreadable byte: a function given it must not read anything.
    const std::uint8_t* fence() const
    {
        return base_ + page_;
    }

  private:
    std::size_t page_;
    std::uint8_t* base_;
    std::uint8_t* data_;
    std::size_t size_;
};
