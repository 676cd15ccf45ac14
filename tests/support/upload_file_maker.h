// Builds upload files for tests: 307-byte header, data, CRC-32 footer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace upload_maker
{

// CRC-32/ISO-HDLC computed bit by bit, independent of the toolbox's table.
inline uint32_t crc32_bitwise(const uint8_t* p, std::size_t n)
{
    uint32_t r = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i)
    {
        r ^= p[i];
        for (int k = 0; k < 8; ++k)
            r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    }
    return ~r;
}

inline void put_le(std::vector<uint8_t>& f, std::size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Header
{
    uint16_t size_hdr = 307;
    uint16_t revision_nr = 1;
    uint16_t type_mask = 0x0001;
    uint32_t date = 20210216;
    uint32_t time = 93005;
    std::string info = "Test file\n";
};

// A valid file for the data (size field, footer CRC sealed).
inline std::vector<uint8_t> make_file(const std::vector<uint8_t>& data, const Header& h = {})
{
    std::vector<uint8_t> f(307 + data.size() + 4, 0);
    put_le(f, 0, h.size_hdr, 2);
    put_le(f, 2, h.revision_nr, 2);
    put_le(f, 4, h.type_mask, 2);
    put_le(f, 6, static_cast<uint32_t>(data.size()), 4);
    put_le(f, 10, h.date, 4);
    put_le(f, 14, h.time, 4);
    for (std::size_t i = 0; i < h.info.size() && i < 289; ++i)
        f[18 + i] = static_cast<uint8_t>(h.info[i]);
    std::copy(data.begin(), data.end(), f.begin() + 307);
    put_le(f, f.size() - 4, crc32_bitwise(f.data(), f.size() - 4), 4);
    return f;
}

// Recomputes the footer after a test changed header or data.
inline void reseal(std::vector<uint8_t>& f)
{
    put_le(f, f.size() - 4, crc32_bitwise(f.data(), f.size() - 4), 4);
}

// Deterministic data bytes that differ from block to block.
inline std::vector<uint8_t> pattern(std::size_t n, uint32_t seed = 1)
{
    std::vector<uint8_t> d(n);
    uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < n; ++i)
    {
        x = x * 1103515245u + 12345u;
        d[i] = static_cast<uint8_t>(x >> 16);
    }
    return d;
}

} // namespace upload_maker
