// Printer page commands: page-start settings, graphics dot lines (plain or
// RLE8), repeated lines and the page end.
#include "page_commands.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace
{

// Density byte for every documented density step; any other value sends 0xFF.
struct TS_DENSITY_STEP
{
    unsigned step;
    unsigned char density;
};

constexpr std::array<TS_DENSITY_STEP, 21> k_density_steps{{
    {0, 0x9C},  {5, 0xA6},  {10, 0xB0}, {15, 0xBA}, {20, 0xC5}, {25, 0xCF},  {30, 0xD9},
    {35, 0xE3}, {40, 0xEC}, {45, 0xF6}, {55, 0x0A}, {60, 0x14}, {65, 0x1E},  {70, 0x28},
    {75, 0x32}, {80, 0x3C}, {85, 0x46}, {90, 0x50}, {95, 0x5A}, {100, 0x64}, {255, 0x00},
}};

// Largest operand of a plain or RLE8 piece.
constexpr uint32_t k_piece_max = 255;
// Longest literal group and longest run of RLE8.
constexpr uint32_t k_group_max = 127;

// Longest data sent as a single piece.  The printer continues a line after
// a 255-byte piece with the next piece of the same kind, so a line of exactly
// 255 bytes needs an empty piece behind it to end it.  The filter's stream
// has always sent such a line as one piece; the shortest parse ends it.
uint32_t lo_single_piece_max(Rle8Parse parse)
{
    return parse == Rle8Parse::Shortest ? k_piece_max - 1 : k_piece_max;
}

// Writes `data` as pieces "1B F0 cmd m" + m bytes: one piece when it is at
// most `single_max` bytes, else 255-byte pieces and a last piece of the
// remainder, which is written even when it is empty.  Returns the bytes
// written to `out`.
uint32_t lo_write_pieces(unsigned char cmd, const unsigned char* data, uint32_t length,
                         uint32_t single_max, unsigned char* out)
{
    uint32_t written = 0;
    if (length <= single_max)
    {
        out[0] = QEL_CMD_ESC;
        out[1] = QEL_CMD_PREFIX;
        out[2] = cmd;
        out[3] = static_cast<unsigned char>(length);
        std::memcpy(out + 4, data, length);
        return 4 + length;
    }
    const uint32_t i_parts = length / k_piece_max;
    const uint32_t i_rest = length % k_piece_max;
    for (uint32_t i_counter = 0; i_counter <= i_parts; ++i_counter)
    {
        const uint32_t piece = (i_counter == i_parts) ? i_rest : k_piece_max;
        out[written++] = QEL_CMD_ESC;
        out[written++] = QEL_CMD_PREFIX;
        out[written++] = cmd;
        out[written++] = static_cast<unsigned char>(piece);
        std::memcpy(out + written, data + i_counter * k_piece_max, piece);
        written += piece;
    }
    return written;
}

// The scan looks at eight bytes at a time where the host is little-endian:
// the lowest byte of a word is then the first byte in the line.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool k_word_scan = true;
#else
constexpr bool k_word_scan = false;
#endif
constexpr uint64_t k_low_bits = 0x0101010101010101ull;
constexpr uint64_t k_high_bits = 0x8080808080808080ull;

inline uint64_t lo_load_word(const unsigned char* p)
{
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Index (0 to 7) of the first zero byte of a word that has one.  Bytes above
// the first zero may be flagged wrongly, the lowest flag never is.
inline uint32_t lo_first_zero_byte(uint64_t word)
{
    const uint64_t flags = (word - k_low_bits) & ~word & k_high_bits;
    return static_cast<uint32_t>(__builtin_ctzll(flags)) / 8;
}

inline bool lo_has_zero_byte(uint64_t word)
{
    return ((word - k_low_bits) & ~word & k_high_bits) != 0;
}

// First position p in [from, limit) with line[p] == line[p - 1] (from >= 1),
// or limit when there is none.
inline uint32_t lo_first_equal_pair(const unsigned char* line, uint32_t from, uint32_t limit)
{
    uint32_t p = from;
    if constexpr (k_word_scan)
    {
        while (p + 8 <= limit)
        {
            const uint64_t diff = lo_load_word(line + p) ^ lo_load_word(line + p - 1);
            if (lo_has_zero_byte(diff))
            {
                return p + lo_first_zero_byte(diff);
            }
            p += 8;
        }
    }
    while (p < limit && line[p] != line[p - 1])
    {
        ++p;
    }
    return p;
}

// First position p in [from, limit) with line[p] != value, or limit.
inline uint32_t lo_run_end(const unsigned char* line, uint32_t from, uint32_t limit,
                           unsigned char value)
{
    uint32_t p = from;
    if constexpr (k_word_scan)
    {
        const uint64_t pattern = k_low_bits * value;
        while (p + 8 <= limit)
        {
            const uint64_t diff = lo_load_word(line + p) ^ pattern;
            if (diff != 0)
            {
                return p + static_cast<uint32_t>(__builtin_ctzll(diff)) / 8;
            }
            p += 8;
        }
    }
    while (p < limit && line[p] == value)
    {
        ++p;
    }
    return p;
}

// Appends a literal group (count byte, then the bytes) at `*size`; false when
// it would not fit in `capacity`.
bool lo_put_literal(const unsigned char* bytes, uint32_t count, unsigned char* target,
                    uint64_t capacity, uint64_t* size)
{
    if (!(count < capacity - *size))
    {
        return false;
    }
    target[(*size)++] = static_cast<unsigned char>(count);
    std::memcpy(target + *size, bytes, count);
    *size += count;
    return true;
}

// Builds the RLE8 data of a dot line in `target` (capacity `capacity`).
// Returns false when a group would not fit, in which case the caller falls
// back to the plain form.  *length receives the data length.
//
// A segment starting at `dot_line` covers at most 127 bytes.  Its first pair
// of equal neighbours starts a run, which lasts while the bytes stay equal,
// up to 127 bytes and the end of the segment; the bytes before it form a
// literal group.  A segment without such a pair is one literal group.
bool lo_rle8_scan(const unsigned char* line, uint32_t n, unsigned char* target, uint64_t capacity,
                  uint64_t* length)
{
    uint64_t size = 0;
    uint32_t dot_line = 0;
    while (dot_line < n)
    {
        const uint32_t limit = std::min(n, dot_line + k_group_max);
        const uint32_t pair = lo_first_equal_pair(line, dot_line + 1, limit);
        if (pair >= limit)
        {
            if (!lo_put_literal(line + dot_line, limit - dot_line, target, capacity, &size))
            {
                return false;
            }
            dot_line = limit;
            continue;
        }
        const uint32_t run_start = pair - 1;
        const unsigned char value = line[run_start];
        const uint32_t run_limit = std::min(limit, run_start + k_group_max);
        const uint32_t run_end = lo_run_end(line, pair + 1, run_limit, value);
        if (run_start > dot_line)
        {
            if (!lo_put_literal(line + dot_line, run_start - dot_line, target, capacity, &size))
            {
                return false;
            }
        }
        if (capacity - size < 2)
        {
            return false;
        }
        target[size++] = static_cast<unsigned char>(0x80 | (run_end - run_start));
        target[size++] = value;
        dot_line = run_end;
    }
    *length = size;
    return true;
}

// The shortest RLE8 data of a line, by a dynamic program from the line's end.
// best(i), the fewest bytes for the bytes from i on, is the least of
//  - a literal group of k = 1..127 bytes: 1 + k + best(i + k);
//  - a run group of k = 2..127 copies of line[i]: 2 + best(i + k).
// Dropping the first byte of a line never makes its data longer (a literal
// group loses a byte or vanishes, a run of two becomes a literal of one), so
// best() never grows towards the line's end: of the runs at i the longest,
// r bytes, is the best.  Where r >= 2 it also beats every literal: one
// inside the equal bytes costs no less than a run, and one of k > r bytes no
// less than the run followed by a literal of the k - r others
// (1 + k >= 2 + 1 + k - r).  Elsewhere only the literals count, and
// 1 + k + best(i + k) is 1 - i + key(i + k) with key(j) = best(j) + j, whose
// least value over the window j = i+1..i+127 a monotone queue keeps, so
// each byte costs O(1).
//
// The choice at each position is the control byte of the group starting
// there; they are kept in `choices` (n bytes), and best() only for the last
// 128 positions.  *length receives best(0); the groups are written to
// `target` only when `emit` allows it (best(0) below `emit`).
//
// `choices` may be the tail of the room that `target` is in: when the groups
// on the way to position p are written, they take best(0) - best(p) bytes,
// no more than the all-literal data of the first p bytes, p + ceil(p / 127),
// so writing never reaches a choice still to be read as long as `choices`
// starts at least ceil(n / 127) bytes behind `target`.
void lo_rle8_shortest(const unsigned char* line, uint32_t n, unsigned char* target,
                      unsigned char* choices, uint64_t emit, uint64_t* length)
{
    constexpr uint32_t k_window = 128; // best(j) for j = i .. i + 127
    uint64_t best[k_window];
    // The queue: literal ends with rising keys from the oldest, the head, on.
    // Its head and its newest key also stay in registers: they are read for
    // every byte, mostly right after they were written.
    uint32_t queue_end[k_window];
    uint64_t queue_key[k_window];
    uint32_t queue_head = 0;
    uint32_t queue_tail = 0;
    uint32_t head_end = 0;
    uint64_t head_key = 0;
    uint64_t tail_key = 0;

    best[n % k_window] = 0;
    uint64_t best_next = 0; // best(i + 1)
    uint32_t run = 0;       // equal bytes from i on
    for (uint32_t i = n; i-- > 0;)
    {
        // The window of literal ends gains i + 1 and loses i + 128.
        const uint32_t j = i + 1;
        const uint64_t key = best_next + j;
        while (queue_tail != queue_head && tail_key >= key)
        {
            --queue_tail;
            tail_key = queue_key[(queue_tail - 1) % k_window];
        }
        queue_end[queue_tail % k_window] = j;
        queue_key[queue_tail % k_window] = key;
        tail_key = key;
        if (queue_tail++ == queue_head)
        {
            head_end = j;
            head_key = key;
        }
        else if (head_end > uint64_t{i} + k_group_max)
        {
            ++queue_head;
            head_end = queue_end[queue_head % k_window];
            head_key = queue_key[queue_head % k_window];
        }

        run = (j < n && line[i] == line[j]) ? run + 1 : 1;
        if (run >= 2)
        {
            const uint32_t run_length = std::min(run, k_group_max);
            best_next = 2 + best[(i + run_length) % k_window];
            choices[i] = static_cast<unsigned char>(0x80 | run_length);
        }
        else
        {
            best_next = 1 + head_key - i;
            choices[i] = static_cast<unsigned char>(head_end - i);
        }
        best[i % k_window] = best_next;
    }
    *length = best[0];
    if (best[0] >= emit)
    {
        return;
    }
    uint64_t size = 0;
    for (uint32_t i = 0; i < n;)
    {
        const unsigned char control = choices[i];
        target[size++] = control;
        if (control & 0x80)
        {
            target[size++] = line[i];
            i += control & 0x7Fu;
        }
        else
        {
            std::memcpy(target + size, line + i, control);
            size += control;
            i += control;
        }
    }
}

} // namespace

unsigned char density_for_step(unsigned step)
{
    for (const auto& entry : k_density_steps)
    {
        if (entry.step == step)
        {
            return entry.density;
        }
    }
    return 0xFF;
}

unsigned char path_for_position(unsigned position)
{
    switch (position)
    {
    case 1:
        return 1;
    case 2:
        return 2;
    case 3:
        return 0;
    default:
        return 4;
    }
}

void append_page_start(const TS_QEL_PAGE_SETTINGS& settings, TS_QEL_PAGE_STREAM& stream)
{
    if (settings.speed != 0xFF)
    {
        stream.insert(stream.end(),
                      {QEL_CMD_ESC, QEL_CMD_PREFIX, QEL_CMD_PRINT_SPEED, 0x01, settings.speed});
    }
    if (settings.density != 0)
    {
        stream.insert(stream.end(),
                      {QEL_CMD_ESC, QEL_CMD_PREFIX, QEL_CMD_PRINT_DENSITY, 0x01, settings.density});
    }
    stream.insert(stream.end(),
                  {QEL_CMD_ESC, QEL_CMD_PREFIX, QEL_CMD_PATH_SELECTION, 0x02, 0x00, settings.path});
}

uint32_t encode_dot_line(unsigned char* out, const unsigned char* ub_dot_line,
                         uint32_t dot_line_size, Rle8Parse parse)
{
    if (out == nullptr || ub_dot_line == nullptr || dot_line_size == 0)
    {
        return 0;
    }
    const uint32_t n = dot_line_size;
    const uint64_t target = graphics_target_size(n);
    uint64_t rle_length = 0;
    bool f_rle = false;
    if (parse == Rle8Parse::Shortest)
    {
        // The choices take the last n bytes of the room, well over
        // ceil(n / 127) bytes behind the data.
        unsigned char* choices = out + dot_line_room(n) - n;
        lo_rle8_shortest(ub_dot_line, n, out + 4, choices, n, &rle_length);
        f_rle = rle_length < n;
    }
    else
    {
        f_rle = lo_rle8_scan(ub_dot_line, n, out + 4, target - 4, &rle_length) && rle_length < n;
    }
    if (f_rle)
    {
        const auto length = static_cast<uint32_t>(rle_length);
        if (length <= lo_single_piece_max(parse))
        {
            out[0] = QEL_CMD_ESC;
            out[1] = QEL_CMD_PREFIX;
            out[2] = QEL_CMD_COMPRESSED_RLE8;
            out[3] = static_cast<unsigned char>(length);
            return 4 + length;
        }
        // Long RLE8 data: every piece after the first moves 4 bytes further
        // back per header in front of it.  Moving the last piece first never
        // overwrites data that is still to be moved.
        const uint32_t i_parts = length / k_piece_max;
        const uint32_t i_rest = length % k_piece_max;
        for (uint32_t i_counter = i_parts + 1; i_counter-- > 0;)
        {
            const uint32_t piece = (i_counter == i_parts) ? i_rest : k_piece_max;
            unsigned char* header = out + static_cast<size_t>(i_counter) * (k_piece_max + 4);
            std::memmove(header + 4, out + 4 + static_cast<size_t>(i_counter) * k_piece_max, piece);
            header[0] = QEL_CMD_ESC;
            header[1] = QEL_CMD_PREFIX;
            header[2] = QEL_CMD_COMPRESSED_RLE8;
            header[3] = static_cast<unsigned char>(piece);
        }
        return length + 4 * (i_parts + 1);
    }
    return lo_write_pieces(QEL_CMD_UNCOMPRESSED, ub_dot_line, n, lo_single_piece_max(parse), out);
}

void append_repeat_lines(uint64_t count, TS_QEL_PAGE_STREAM& stream)
{
    while (count > 0)
    {
        const uint64_t k = std::min<uint64_t>(count, k_piece_max);
        stream.insert(stream.end(), {QEL_CMD_ESC, QEL_CMD_PREFIX, QEL_CMD_REPEAT_LINE, 0x01,
                                     static_cast<unsigned char>(k)});
        count -= k;
    }
}

uint32_t write_page_end(bool f_form_feed, bool f_cut, unsigned char* out)
{
    uint32_t size = 0;
    if (f_form_feed)
    {
        out[size++] = QEL_CMD_FORM_FEED;
    }
    out[size++] = QEL_CMD_ESC;
    out[size++] = QEL_CMD_PREFIX;
    out[size++] = QEL_CMD_CUT;
    out[size++] = 0x01;
    out[size++] = f_cut ? 2 : 0;
    return size;
}
