// sized_blocks.cpp - heap blocks that carry their payload size in front of the payload.
#include "Qel_Tb.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace
{
// The size field sits in a header padded to the strictest alignment, so the
// payload is as well aligned as anything malloc returns.
union lo_block_header
{
    unsigned long size;
    std::max_align_t align;
};
constexpr std::size_t lo_header_size = sizeof(lo_block_header);

lo_block_header* lo_header_of(void* mem)
{
    return reinterpret_cast<lo_block_header*>(static_cast<unsigned char*>(mem) - lo_header_size);
}

// Allocates header plus payload; null when the heap (or size_t) is exhausted.
lo_block_header* lo_allocate(unsigned long payload)
{
    if (payload > SIZE_MAX - lo_header_size)
        return nullptr;
    return static_cast<lo_block_header*>(std::malloc(lo_header_size + payload));
}

void* lo_payload_of(lo_block_header* header)
{
    return reinterpret_cast<unsigned char*>(header) + lo_header_size;
}
} // namespace

extern "C" void* qel_tb_alloc_mem(unsigned long size)
{
    lo_block_header* header = lo_allocate(size);
    if (header == nullptr)
        return nullptr;
    header->size = size;
    void* payload = lo_payload_of(header);
    std::memset(payload, 0x00, size);
    return payload;
}

extern "C" void qel_tb_free(void* mem)
{
    if (mem != nullptr)
        std::free(lo_header_of(mem));
}

extern "C" unsigned long qel_tb_alloc_mem_size(void* mem)
{
    return mem == nullptr ? 0 : lo_header_of(mem)->size;
}

extern "C" void* qel_tb_alloc_mem_cat(void* mem, const void* data, unsigned long size)
{
    const unsigned long old_size = qel_tb_alloc_mem_size(mem);
    void* result = nullptr;

    // An append that would overflow the size counts as an exhausted heap.
    lo_block_header* header = size > ~0UL - old_size ? nullptr : lo_allocate(old_size + size);
    if (header != nullptr)
    {
        unsigned char* payload = static_cast<unsigned char*>(lo_payload_of(header));
        if (mem != nullptr && old_size != 0)
            std::memcpy(payload, mem, old_size);
        if (data != nullptr && size != 0)
            std::memcpy(payload + old_size, data, size);
        header->size = old_size + size;
        result = payload;
    }

    // The old block is gone in every case: callers always take the result.
    qel_tb_free(mem);
    return result;
}
