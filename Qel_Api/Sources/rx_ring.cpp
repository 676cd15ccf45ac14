// rx_ring.cpp - the receive ring of a USB port.
//
// A USB read always fetches whole packets from the printer; what the caller
// did not ask for waits here for the next read. The ring is 1024 bytes with a
// read index (bottom) and a write index (top); equal indices mean empty, so at
// most 1023 bytes are ever held. The C interface's port keeps its ring in the
// exported variables; a port object keeps its own.
#include "api_internal.h"
#include "Qel_Api.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qel::detail
{

/*
 * ready - true when a ring exists. Indices outside the ring (the exported
 * variables may be set by anyone) cannot be trusted: the ring is then taken
 * as empty.
 */
bool RxRing::ready()
{
    if (storage_ == nullptr)
    {
        return false;
    }
    if (bottom_ < 0 || bottom_ >= kRxRingSize || top_ < 0 || top_ >= kRxRingSize)
    {
        bottom_ = 0;
        top_ = 0;
    }
    return true;
}

int RxRing::count()
{
    if (!ready())
    {
        return 0;
    }
    int held = top_ - bottom_ + kRxRingSize;
    while (held >= kRxRingSize)
    {
        held -= kRxRingSize;
    }
    return held;
}

int RxRing::free_room()
{
    return kRxRingSize - count();
}

/*
 * store - put received bytes at top.
 *
 *   data  I  bytes to store (may be null when n is 0)
 *   n     I  number of bytes; must be smaller than the free room
 *
 * Returns 1 when stored, 0 when refused (ring unchanged).
 */
int RxRing::store(const unsigned char* data, int n)
{
    if (!ready() || n < 0 || n >= free_room())
    {
        return 0;
    }
    if (n == 0)
    {
        return 1;
    }
    if (data == nullptr)
    {
        return 0;
    }
    // Up to the end of the storage, then from its start.
    const int first = std::min(n, kRxRingSize - top_);
    std::memcpy(storage_ + top_, data, static_cast<size_t>(first));
    std::memcpy(storage_, data + first, static_cast<size_t>(n - first));
    top_ = (top_ + n) % kRxRingSize;
    return 1;
}

/*
 * take - copy bytes out from bottom: the smaller of n and the bytes held.
 * Returns the number copied.
 */
int RxRing::take(unsigned char* data, int n)
{
    if (data == nullptr || n <= 0)
    {
        return 0;
    }
    const int taken = std::min(n, count());
    if (taken == 0)
    {
        return 0;
    }
    const int first = std::min(taken, kRxRingSize - bottom_);
    std::memcpy(data, storage_ + bottom_, static_cast<size_t>(first));
    std::memcpy(data + first, storage_, static_cast<size_t>(taken - first));
    bottom_ = (bottom_ + taken) % kRxRingSize;
    return taken;
}

void RxRing::clear()
{
    if (storage_ != nullptr)
    {
        std::memset(storage_, 0, kRxRingSize);
    }
    bottom_ = 0;
    top_ = 0;
}

bool RxRing::allocate()
{
    auto* ring = static_cast<unsigned char*>(std::calloc(kRxRingSize, 1));
    if (ring == nullptr)
    {
        return false;
    }
    std::free(storage_); // a ring left by an open that was never closed
    storage_ = ring;
    bottom_ = 0;
    top_ = 0;
    return true;
}

void RxRing::release()
{
    std::free(storage_);
    storage_ = nullptr;
    bottom_ = 0;
    top_ = 0;
}

} // namespace qel::detail

// The free functions work on the C interface's ring.
int buffer_get_rx_count()
{
    return qel::detail::default_ring().count();
}

int buffer_get_rx_free()
{
    return qel::detail::default_ring().free_room();
}

int buffer_set_rx_data(const unsigned char* pub_data, int n_data)
{
    return qel::detail::default_ring().store(pub_data, n_data);
}

int buffer_get_rx_data(unsigned char* pub_data, int n_data)
{
    return qel::detail::default_ring().take(pub_data, n_data);
}

void buffer_clear_rx()
{
    qel::detail::default_ring().clear();
}
