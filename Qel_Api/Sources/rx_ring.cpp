// rx_ring.cpp - the receive ring of a USB port.
//
// A USB read always fetches whole packets from the printer; what the caller
// did not ask for waits here for the next read. The ring is 1024 bytes with a
// read index (bottom) and a write index (top); equal indices mean empty, so at
// most 1023 bytes are ever held.
#include "api_internal.h"
#include "Qel_Api.h"

#include <algorithm>
#include <cstring>

namespace
{
/*
 * lo_ring_ready - true when a ring exists. Indices outside the ring (the
 * variables are public) cannot be trusted: the ring is then taken as empty.
 */
bool lo_ring_ready()
{
    if (m_pub_rx_buffer == nullptr)
    {
        return false;
    }
    if (m_index_rx_bottom < 0 || m_index_rx_bottom >= kRxRingSize || m_index_rx_top < 0 ||
        m_index_rx_top >= kRxRingSize)
    {
        m_index_rx_bottom = 0;
        m_index_rx_top = 0;
    }
    return true;
}
} // namespace

int buffer_get_rx_count()
{
    if (!lo_ring_ready())
    {
        return 0;
    }
    int held = m_index_rx_top - m_index_rx_bottom + kRxRingSize;
    while (held >= kRxRingSize)
    {
        held -= kRxRingSize;
    }
    return held;
}

int buffer_get_rx_free()
{
    return kRxRingSize - buffer_get_rx_count();
}

/*
 * buffer_set_rx_data - store received bytes at top.
 *
 *   pub_data  I  bytes to store (may be null when n_data is 0)
 *   n_data    I  number of bytes; must be smaller than the free room
 *
 * Returns 1 when stored, 0 when refused (ring unchanged).
 */
int buffer_set_rx_data(const unsigned char* pub_data, int n_data)
{
    if (!lo_ring_ready() || n_data < 0 || n_data >= buffer_get_rx_free())
    {
        return 0;
    }
    if (n_data == 0)
    {
        return 1;
    }
    if (pub_data == nullptr)
    {
        return 0;
    }
    // Up to the end of the storage, then from its start.
    const int first = std::min(n_data, kRxRingSize - m_index_rx_top);
    std::memcpy(m_pub_rx_buffer + m_index_rx_top, pub_data, static_cast<size_t>(first));
    std::memcpy(m_pub_rx_buffer, pub_data + first, static_cast<size_t>(n_data - first));
    m_index_rx_top = (m_index_rx_top + n_data) % kRxRingSize;
    return 1;
}

/*
 * buffer_get_rx_data - take bytes from bottom.
 *
 *   pub_data  O  receives the bytes
 *   n_data    I  number wanted
 *
 * Returns the number copied: the smaller of n_data and the bytes held.
 */
int buffer_get_rx_data(unsigned char* pub_data, int n_data)
{
    if (pub_data == nullptr || n_data <= 0)
    {
        return 0;
    }
    const int n = std::min(n_data, buffer_get_rx_count());
    if (n == 0)
    {
        return 0;
    }
    const int first = std::min(n, kRxRingSize - m_index_rx_bottom);
    std::memcpy(pub_data, m_pub_rx_buffer + m_index_rx_bottom, static_cast<size_t>(first));
    std::memcpy(pub_data + first, m_pub_rx_buffer, static_cast<size_t>(n - first));
    m_index_rx_bottom = (m_index_rx_bottom + n) % kRxRingSize;
    return n;
}

void buffer_clear_rx()
{
    if (m_pub_rx_buffer != nullptr)
    {
        std::memset(m_pub_rx_buffer, 0, kRxRingSize);
    }
    m_index_rx_bottom = 0;
    m_index_rx_top = 0;
}
