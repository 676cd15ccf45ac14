"""The fewest bytes in which the printer's page command set carries a page of
dot lines: every line as plain or RLE8 data (whichever is shorter, with the
optimal RLE8 parse), cut into 255-byte pieces with a last piece of the
remainder, and every run of lines equal to the line before as repeat commands
(1B F0 04 01 k, k <= 255).  Lines keep their width (the printer prints the
bytes it is sent; a line is not shortened)."""
import functools

PIECE = 255
HEADER = 4          # 1B F0 cmd m
REPEAT = 5          # 1B F0 04 01 k
MAX_GROUP = 127     # literal 01..7F; run 82..FF (2..127 copies)


def rle8_size(line):
    """Length of the shortest RLE8 data of a line (dynamic program over the
    position: a literal group of 1..127 bytes costs 1 + k, a run group of 2..127
    equal bytes costs 2)."""
    n = len(line)
    best = [0] * (n + 1)
    for i in range(n - 1, -1, -1):
        cost = 1 + 1 + best[i + 1]
        for k in range(2, min(MAX_GROUP, n - i) + 1):
            cost = min(cost, 1 + k + best[i + k])
        run = 1
        while i + run < n and run < MAX_GROUP and line[i + run] == line[i]:
            run += 1
        for k in range(2, run + 1):
            cost = min(cost, 2 + best[i + k])
        best[i] = cost
    return best[0]


def _pieces(data_size):
    return HEADER * (data_size // PIECE + 1) + data_size


@functools.lru_cache(maxsize=None)
def line_cost(line):
    return min(_pieces(len(line)), _pieces(rle8_size(line)))


def page_cost(lines):
    """Bytes of the dot lines of one page (no settings, no page end)."""
    total, run, previous = 0, 0, None
    for line in lines:
        if line == previous:
            run += 1
            continue
        total += REPEAT * -(-run // PIECE)
        run = 0
        total += line_cost(line)
        previous = line
    return total + REPEAT * -(-run // PIECE)


def read_pbm(path):
    """Rows of a raw PBM file as bytes objects."""
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 3:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    assert fields[0] == b"P4", "not a raw PBM"
    width, height = int(fields[1]), int(fields[2])
    at += 1
    stride = (width + 7) // 8
    return [data[at + r * stride:at + (r + 1) * stride] for r in range(height)]
