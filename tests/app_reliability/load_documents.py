#!/usr/bin/env python3
"""The documents of the printer application load test.

    load_documents.py DIR COUNT
    load_documents.py --pdf-expect DIR      (after Ghostscript rendered DIR/gs/NNN.pbm)

Job n (0-based) is one receipt page: a bar code of n at the top, pseudo-random
"text" below, a rule at the bottom, so that every job's page differs. Its form:
n % 10 == 0 a PDF (vector rectangles), n % 10 in 1..5 PWG raster (written by the
test with qel_pbm_to_pwg from DIR/src/job-NNN.pbm, the page 639 dots wide with the
receipt in the middle 576), else a PNG at 203 dpi. Every 9th job asks for 2 copies.

Writes DIR/jobs/job-NNN.{pdf,png}, DIR/src/job-NNN.pbm, DIR/expect/job-NNN-1.pbm
(what the printer prints; for PDFs written later from Ghostscript's rendering),
DIR/manifest.txt ("NNN raster 1 COPIES" per job, the format of tests/load's
checker) and DIR/submit.txt ("FILE:MIME:COPIES:pN" per job, printer n % 4)."""
import os
import random
import struct
import sys
import zlib

WIDTH, ROLL = 576, 639
LEFT = (ROLL - WIDTH) // 2


def page(n):
    """Rows of the receipt, each a list of dark runs (first dot, width), 576 wide."""
    rnd = random.Random(n)
    bits = [1] + [(n >> b) & 1 for b in range(12)] + [1]
    rows = [[(i * 40, 32) for i, bit in enumerate(bits) if bit]] * 16
    for _ in range(rnd.randint(3, 6)):
        rows += [[]] * 8
        glyphs, x = [], rnd.randint(0, 40)
        while x < WIDTH - 16:
            w = rnd.randint(4, 14)
            glyphs.append((x, w))
            x += w + rnd.randint(2, 20)
        rows += [glyphs] * rnd.randint(10, 20)
    return rows + [[]] * 8 + [[(0, WIDTH)]] * 3


def row_bits(runs, width, left=0):
    """The row as bytes, 1 = dark, MSB first, in a row of `width` dots with `left` blank dots."""
    stride = (width + 7) // 8
    value = 0
    for x, w in runs:
        value |= ((1 << w) - 1) << (stride * 8 - left - x - w)
    return value.to_bytes(stride, "big")


def pbm(rows, width, left=0):
    return (b"P4\n%d %d\n" % (width, len(rows)) +
            b"".join(row_bits(r, width, left) for r in rows))


def png(rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    # 1-bit grey: 1 is white.
    raw = b"".join(b"\0" + bytes(255 - b for b in row_bits(r, WIDTH)) for r in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, len(rows), 1, 0, 0, 0, 0)) +
            chunk(b"pHYs", struct.pack(">IIB", 8000, 8000, 1)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def pdf(rows):
    """One page 80 mm wide; each dark run a filled rectangle at 203 dpi."""
    scale = 72 / 203
    height = len(rows) + 40
    ops = ["0 g"]
    for y, runs in enumerate(rows):
        for x, w in runs:
            ops.append("%.4f %.4f %.4f %.4f re" % ((LEFT + x) * scale,
                                                  (height - 20 - y - 1) * scale,
                                                  w * scale, scale))
    ops.append("f")
    content = "\n".join(ops).encode()
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 226.77 %.2f] /Contents 4 0 R >>"
               % (height * scale),
               b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream"]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, obj in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + obj + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, xref)
    return bytes(out)


def read_pbm(path):
    with open(path, "rb") as f:
        data = f.read()
    # Header: P4, width, height; comment lines may come between.
    lines = [l for l in data.split(b"\n", 4)[:4] if not l.startswith(b"#")]
    fields = b" ".join(lines).split()
    width, height = int(fields[1]), int(fields[2])
    stride = (width + 7) // 8
    body = data[len(data) - stride * height:]
    return width, [body[r * stride:(r + 1) * stride] for r in range(height)]


def pdf_expect(out):
    """What the printer prints of Ghostscript's renderings (in the order of the PDF jobs): the
    middle 576 dots, blank rows above and below dropped."""
    pdfs = sorted(f[:-4] for f in os.listdir(os.path.join(out, "jobs")) if f.endswith(".pdf"))
    for i, name in enumerate(pdfs, 1):
        width, rows = read_pbm(os.path.join(out, "gs", "%03d.pbm" % i))
        stride = (width + 7) // 8
        cut = []
        for row in rows:
            value = int.from_bytes(row, "big") >> (stride * 8 - LEFT - WIDTH)
            cut.append((value & ((1 << WIDTH) - 1)).to_bytes(WIDTH // 8, "big"))
        while cut and not any(cut[0]):
            cut.pop(0)
        while cut and not any(cut[-1]):
            cut.pop()
        with open(os.path.join(out, "expect", name + "-1.pbm"), "wb") as f:
            f.write(b"P4\n%d %d\n" % (WIDTH, len(cut)) + b"".join(cut))


def main():
    if sys.argv[1] == "--pdf-expect":
        pdf_expect(sys.argv[2])
        return
    out, count = sys.argv[1], int(sys.argv[2])
    for sub in ("jobs", "src", "expect"):
        os.makedirs(os.path.join(out, sub), exist_ok=True)
    manifest, submit = [], []
    for n in range(count):
        name = "job-%03d" % n
        rows = page(n)
        copies = 2 if n % 9 == 0 else 1
        kind = n % 10
        if kind == 0:
            path, mime = "jobs/%s.pdf" % name, "application/pdf"
            data = pdf(rows)
        elif kind <= 5:
            path, mime = "jobs/%s.pwg" % name, "image/pwg-raster"
            with open(os.path.join(out, "src", name + ".pbm"), "wb") as f:
                f.write(pbm(rows, ROLL, LEFT))
            data = None
        else:
            path, mime = "jobs/%s.png" % name, "image/png"
            data = png(rows)
        if data is not None:
            with open(os.path.join(out, path), "wb") as f:
                f.write(data)
        if kind != 0:
            with open(os.path.join(out, "expect", name + "-1.pbm"), "wb") as f:
                f.write(pbm(rows, WIDTH))
        manifest.append("%d raster 1 %d\n" % (n, copies))
        submit.append("%s:%s:%s:p%d\n" % (path, mime, "2" if copies == 2 else "", n % 4))
    with open(os.path.join(out, "manifest.txt"), "w") as f:
        f.writelines(manifest)
    with open(os.path.join(out, "submit.txt"), "w") as f:
        f.writelines(submit)


main()
