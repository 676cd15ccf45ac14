"""The printer application against LPrint, and its throughput, memory and wire
bytes.  Started by bench/app/run (inside a private mount namespace with its
own /run); see README.md."""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import shutil
import time

import ipp_client
import wire_optimum

BUILD, RUNS, WORK, TOP = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
APP = os.path.join(BUILD, "printer_app/qel-printer-app")
EMU = os.path.join(BUILD, "emulator/qel-printer-emulator")
PBM_TO_PWG = os.path.join(BUILD, "tests/printer_app/qel_pbm_to_pwg")
FILTER = os.path.join(BUILD, "Qel_Driver/Sources/filter/rastertoqel")
APP_PORT, LPRINT_PORT = 18791, 18792
THROUGHPUT_JOBS = 200
procs = []
DEV = tempfile.mkdtemp(prefix="qel-app-bench.", dir="/dev/shm")


def log(text):
    print(text, file=sys.stderr, flush=True)


def run(*args, **kw):
    subprocess.run(args, check=True, **kw)


def spawn(args, env=None, stdout=None, stderr=None):
    p = subprocess.Popen(args, env=env, stdout=stdout, stderr=stderr)
    procs.append(p)
    return p


def wait_http(port):
    for _ in range(100):
        try:
            socket.create_connection(("localhost", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("no server on port %d" % port)


def path(*parts):
    return os.path.join(WORK, *parts)


# ---------------------------------------------------------------------------
# Documents: a typical receipt (item lines, a total, a bar), 2,000 dot lines
# on an 80 mm roll, as PWG raster and as PDF; a 50,000-line page.
RECEIPT_PS = r"""%!PS
<</PageSize [226.8 709]>> setpagedevice
/Helvetica-Bold findfont 20 scalefont setfont 40 680 moveto (QEL COFFEE HOUSE) show
/Helvetica findfont 10 scalefont setfont
0 1 45 { /i exch def 12 650 i 13 mul sub moveto (Item ) show i 3 string cvs show
  150 650 i 13 mul sub moveto (2 x 3.25) show } for
12 40 200 3 rectfill /Helvetica-Bold findfont 16 scalefont setfont 12 18 moveto (TOTAL 149.50) show
showpage
"""


def make_documents():
    with open(path("receipt.ps"), "w") as f:
        f.write(RECEIPT_PS)
    run("gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
        "-sOutputFile=" + path("receipt.pdf"), path("receipt.ps"))
    run("gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pbmraw", "-r203",
        "-g639x2000", "-sOutputFile=" + path("gs.pbm"), path("receipt.pdf"))
    with open(path("receipt.pbm"), "wb") as out:
        run("pamcut", "-width", "639", path("gs.pbm"), stdout=out)
    run(PBM_TO_PWG, path("receipt.pbm"), "om_roll-80_80x250mm", path("receipt.pwg"))
    # 25 receipts one below the other: one page of 50,000 dot lines.
    with open(path("long.pbm"), "wb") as out:
        run("pnmcat", "-tb", *([path("receipt.pbm")] * 25), stdout=out)
    with open(path("long1.pbm"), "wb") as out:
        run("pamtopnm", path("long.pbm"), stdout=out)
    run(PBM_TO_PWG, path("long1.pbm"), "om_roll-80_80x6300mm", path("long.pwg"))


# ---------------------------------------------------------------------------
# Printers: the emulator with one measured printer (transcript, pages) and four
# throughput printers (nothing recorded), the app with all five; LPrint with
# its ZPL driver on a socket that discards what it gets.
class Discard:
    """TCP listener that reads and drops; records when each connection's first byte came."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.first_bytes = []
        self.event = threading.Event()
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            conn, _ = self.sock.accept()
            threading.Thread(target=self._drain, args=(conn,), daemon=True).start()

    def _drain(self, conn):
        first = True
        while True:
            data = conn.recv(65536)
            if not data:
                break
            if first:
                self.first_bytes.append(time.monotonic())
                self.event.set()
                first = False
        conn.close()


def start_printers():
    # The app takes device paths under /dev only.
    dev = DEV
    os.makedirs(path("pages"))
    args = [EMU, "--tty", dev + "/Ttys-m", "--serial", "SN-BENCH-M", "--out", path("pages"),
            "--transcript", path("m.transcript")]
    for i in range(1, 5):
        args += ["--tty", "%s/Ttys-t%d" % (dev, i), "--serial", "SN-BENCH-T%d" % i]
    emu = spawn(args, stdout=open(path("emu.out"), "w"), stderr=open(path("emu.err"), "w"))
    for _ in range(100):
        if open(path("emu.out")).read().count("READY") == 5:
            break
        time.sleep(0.1)
    env = dict(os.environ, HOME=path("app-home"))
    os.makedirs(path("app-home"))
    os.makedirs(path("app-spool"))
    app = spawn([APP, "server", "-o", "server-port=%d" % APP_PORT, "-o",
                 "log-file=" + path("app.log"), "-o", "log-level=warn", "-o",
                 "spool-directory=" + path("app-spool")], env=env)
    wait_http(APP_PORT)
    for name, tty in [("m", "Ttys-m")] + [("t%d" % i, "Ttys-t%d" % i) for i in range(1, 5)]:
        run(APP, "add", "-d", name, "-v", "qel:%s/%s?baud=115200" % (dev, tty), "-m", "qel_0016",
            env=env)
    discard = Discard()
    lenv = dict(os.environ, HOME=path("lprint-home"))
    os.makedirs(path("lprint-home"))
    os.makedirs(path("lprint-spool"))
    spawn(["lprint", "server", "-o", "server-port=%d" % LPRINT_PORT, "-o",
           "listen-hostname=localhost", "-o", "log-file=" + path("lprint.log"), "-o",
           "log-level=warn", "-o", "spool-directory=" + path("lprint-spool")], env=lenv)
    wait_http(LPRINT_PORT)
    run("lprint", "add", "-d", "zpl", "-v", "socket://127.0.0.1:%d" % discard.port, "-m",
        "zpl_2inch-203dpi-dt", env=lenv)
    return emu, app, discard


def client(port, name):
    return ipp_client.IppClient("ipp://localhost:%d/ipp/print/%s" % (port, name))


def wait_done(c, job_id, limit=120):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        state = c.job(job_id)
        if state["state"] in ("completed", "aborted", "canceled", "stopped"):
            return state
        time.sleep(0.002)
    raise RuntimeError("job %d not done after %d s" % (job_id, limit))


def transcript_page_bytes():
    """Size of the measured printer's transcript: grows when page commands arrive."""
    try:
        return os.path.getsize(path("m.transcript"))
    except OSError:
        return 0


def wait_first_page_command(since_size, limit=30):
    """Time at which a page command line appears in the transcript past since_size."""
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if os.path.getsize(path("m.transcript")) > since_size:
            with open(path("m.transcript"), "rb") as f:
                f.seek(since_size)
                if b"page-command" in f.read():
                    return time.monotonic()
        time.sleep(0.0005)
    raise RuntimeError("no page command at the emulator")


def time_app(c, document, mime):
    size = transcript_page_bytes()
    t0 = time.monotonic()
    job = c.print_job(document, mime)
    first = wait_first_page_command(size)
    state = wait_done(c, job)
    done = time.monotonic()
    assert state["state"] == "completed", state
    return (first - t0) * 1000, (done - t0) * 1000


def time_lprint(c, discard, document):
    discard.event.clear()
    t0 = time.monotonic()
    job = c.print_job(document, "image/pwg-raster")
    if not discard.event.wait(30):
        raise RuntimeError("LPrint sent nothing")
    first = discard.first_bytes[-1]
    state = wait_done(c, job)
    done = time.monotonic()
    assert state["state"] == "completed", state
    return (first - t0) * 1000, (done - t0) * 1000


def throughput(printers, document):
    """Receipts per second: THROUGHPUT_JOBS jobs submitted by one client per printer."""
    results = []

    def feed(name, n):
        c = client(APP_PORT, name)
        jobs = [c.print_job(document, "image/pwg-raster") for _ in range(n)]
        for job in jobs:
            results.append(wait_done(c, job)["state"])

    per = THROUGHPUT_JOBS // len(printers)
    threads = [threading.Thread(target=feed, args=(p, per)) for p in printers]
    t0 = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    seconds = time.monotonic() - t0
    assert results.count("completed") == per * len(printers), results
    return per * len(printers) / seconds


def memory(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return int(fields["VmHWM"].split()[0]) / 1024, int(fields["VmRSS"].split()[0]) / 1024


def reset_peak(pid):
    with open("/proc/%d/clear_refs" % pid, "w") as f:
        f.write("5")


def filter_stream_bytes():
    """rastertoqel's command stream for the same PWG receipt (bytes), or None."""
    ppd_dir = os.path.join(BUILD, "Qel_Driver/ppd/ppd")
    ppd = os.path.join(ppd_dir, "qel0016.ppd")
    if not (os.access(FILTER, os.X_OK) and os.path.exists(ppd)):
        return None
    # A PWG raster header leaves NumCopies 0 (copies are a job attribute there); the
    # filter prints NumCopies copies of each page, so the copy of the document says 1.
    document = bytearray(open(path("receipt.pwg"), "rb").read())
    document[4 + 340:4 + 344] = (1).to_bytes(4, "big")
    env = {"PATH": "/usr/bin:/bin", "PPD": ppd, "TMPDIR": WORK, "HOME": WORK,
           "DEVICE_URI": "file:/dev/null", "CONTENT_TYPE": "application/vnd.cups-raster"}
    out = subprocess.run([FILTER, "1", "bench", "receipt", "1", ""], input=bytes(document),
                         env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         check=False).stdout
    decoded = subprocess.run([EMU, "--decode", "/dev/stdin"], input=out, capture_output=True)
    return len(out) if decoded.returncode == 0 else None


def transcript_split(first_page_end):
    """Graphics and other command bytes the app sent for the measured printer's first page."""
    graphics = other = 0
    with open(path("m.transcript")) as f:
        for line in f:
            parts = line.split()
            if len(parts) < 4 or parts[1] != "page-command":
                continue
            if int(parts[0]) >= first_page_end:
                break
            if parts[3] == "0C" or parts[5] not in ("02", "03", "04"):
                other += int(parts[2])
            else:
                graphics += int(parts[2])
    return graphics, other


def page_txt(n):
    values = {}
    with open(path("pages", "page-%03d.txt" % n)) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            values[key] = value
    return values


def main():
    os.makedirs(WORK)
    make_documents()
    pwg = open(path("receipt.pwg"), "rb").read()
    pdf = open(path("receipt.pdf"), "rb").read()
    long_pwg = open(path("long.pwg"), "rb").read()
    emu, app, discard = start_printers()
    idle_peak, idle_rss = memory(app.pid)
    m, zpl = client(APP_PORT, "m"), client(LPRINT_PORT, "zpl")

    # One job each to settle (first connection, first spool file), then the measured runs.
    time_app(m, pwg, "image/pwg-raster")
    time_lprint(zpl, discard, pwg)
    app_first, app_done, lp_first, lp_done, pdf_first, pdf_done = [], [], [], [], [], []
    for _ in range(RUNS):
        a = time_app(m, pwg, "image/pwg-raster")
        app_first.append(a[0])
        app_done.append(a[1])
        b = time_lprint(zpl, discard, pwg)
        lp_first.append(b[0])
        lp_done.append(b[1])
        p = time_app(m, pdf, "application/pdf")
        pdf_first.append(p[0])
        pdf_done.append(p[1])
    log("latency runs done")

    # Three rounds each, alternating, the median kept (the machine's other load varies).
    rates1, rates4 = [], []
    reset_peak(app.pid)
    for _ in range(3):
        rates1.append(throughput(["t1"], pwg))
        rates4.append(throughput(["t1", "t2", "t3", "t4"], pwg))
    rate1, rate4 = statistics.median(rates1), statistics.median(rates4)
    load_peak, _ = memory(app.pid)
    log("throughput runs done")

    reset_peak(app.pid)
    time_app(m, pwg, "image/pwg-raster")
    short_peak, _ = memory(app.pid)
    reset_peak(app.pid)
    time_app(m, long_pwg, "image/pwg-raster")
    long_peak, _ = memory(app.pid)
    log("memory runs done")

    # Wire bytes of the first receipt the measured printer printed.
    first = page_txt(1)
    rows = wire_optimum.read_pbm(path("pages", "page-001.pbm"))
    optimum_lines = wire_optimum.page_cost(rows)
    app_wire = int(first["wire_bytes"])
    ends = [int(l.split()[0]) for l in open(path("m.transcript")) if "1B F0 06 01" in l]
    app_graphics, app_other = transcript_split(ends[0] + 5)
    optimum = optimum_lines + app_other
    filter_bytes = filter_stream_bytes()

    for p in procs:
        p.terminate()
    for p in procs:
        p.wait()
    summary = open(path("emu.err")).read()

    med = statistics.median
    rows_out = [
        ("PWG receipt: first byte at the printer, app (ms)", "%.1f" % med(app_first),
         "<= 30", med(app_first) <= 30),
        ("PWG receipt: first byte, LPrint ZPL 203 dpi to a discarding socket (ms)",
         "%.1f" % med(lp_first), "(peer)", None),
        ("PWG receipt: job completed, app (ms)", "%.1f" % med(app_done), "", None),
        ("PWG receipt: job completed, LPrint (ms; not comparable: no printer answers)",
         "%.1f" % med(lp_done), "", None),
        ("PDF receipt: first byte at the printer, app, Ghostscript included (ms)",
         "%.1f" % med(pdf_first), "", None),
        ("PDF receipt: job completed, app (ms)", "%.1f" % med(pdf_done), "", None),
        ("throughput, 1 printer (receipts/s)", "%.1f" % rate1, ">= 200", rate1 >= 200),
        ("throughput, 4 printers (receipts/s)", "%.1f" % rate4, ">= 200", rate4 >= 200),
        ("app peak memory, 4+1 printers idle (MiB)", "%.1f" % idle_peak, "", None),
        ("app peak memory, 4 printers under load (MiB)", "%.1f" % load_peak, "", None),
        ("app peak memory, one 2,000-line page (MiB)", "%.1f" % short_peak, "", None),
        ("app peak memory, one 50,000-line page (MiB)", "%.1f" % long_peak,
         "flat (<= +10%)", long_peak <= short_peak * 1.10),
        ("wire bytes of the receipt page: app", str(app_wire), "", None),
        ("wire bytes: optimal parse (same settings and page end)", str(optimum), "", None),
        ("wire bytes: app / optimal", "%.4f" % (app_wire / optimum), "<= 1.01",
         app_wire / optimum <= 1.01),
        ("wire bytes: rastertoqel, same PWG document (full 639-dot lines, no trimming)",
         str(filter_bytes) if filter_bytes else "not built", "", None),
    ]
    print("| measure | value | goal | met |")
    print("|---|---|---|---|")
    for name, value, goal, met in rows_out:
        mark = "" if met is None else ("met" if met else "NOT met")
        print("| %s | %s | %s | %s |" % (name, value, goal, mark))
    print()
    print("throughput rounds (1 printer / 4 printers): %s" % ", ".join(
        "%.0f/%.0f" % x for x in zip(rates1, rates4)))
    print("%d alternating runs, medians; throughput over %d jobs; app graphics bytes %d, other "
          "%d; optimal dot-line bytes %d; LPrint first-byte/completed per run: %s" %
          (RUNS, THROUGHPUT_JOBS, app_graphics, app_other, optimum_lines,
           ", ".join("%.1f/%.1f" % x for x in zip(lp_first, lp_done))))
    print("emulator: " + " | ".join(l for l in summary.splitlines() if "bytes," in l))
    print("machine: %s, %d cores, %s" % (os.uname().machine, os.cpu_count(),
                                        open("/proc/cpuinfo").read().split("model name")[1]
                                        .split("\n")[0].strip(" :\t")))


try:
    main()
finally:
    for p in procs:
        if p.poll() is None:
            p.kill()
    shutil.rmtree(DEV, ignore_errors=True)
