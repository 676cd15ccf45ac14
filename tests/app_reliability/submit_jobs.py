#!/usr/bin/env python3
"""Submits documents to a printer of the app and waits for each job's end.

    submit_jobs.py PRINTER_URI FILE:MIME[:COPIES[:PRINTER]] ...

PRINTER (a printer name) replaces the last part of PRINTER_URI for that document.
One line per document: FILE STATE "REASONS" "MESSAGE" (STATE "refused" when
Print-Job itself failed; MESSAGE then holds the IPP status and message)."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../bench/app"))
import ipp_client  # noqa: E402


def main():
    base = sys.argv[1].rsplit("/", 1)[0]
    clients = {}
    for arg in sys.argv[2:]:
        parts = arg.split(":")
        name, mime = parts[0], parts[1]
        copies = int(parts[2]) if len(parts) > 2 and parts[2] else None
        uri = base + "/" + parts[3] if len(parts) > 3 else sys.argv[1]
        client = clients.setdefault(uri, ipp_client.IppClient(uri))
        with open(name, "rb") as f:
            document = f.read()
        # A printer busy with another job answers server-error-busy; like CUPS, try again.
        deadline = time.monotonic() + 120
        while True:
            try:
                job = client.print_job(document, mime, copies=copies)
                break
            except RuntimeError as error:
                if "0x0507" in str(error) and time.monotonic() < deadline:
                    time.sleep(0.02)
                    continue
                job = None
                print('%s refused "" "%s"' % (name, error), flush=True)
                break
        if job is None:
            continue
        end = time.monotonic() + 120
        while True:
            state = client.job(job)
            if state["state"] in ("completed", "aborted", "canceled", "stopped"):
                break
            if time.monotonic() > end:
                break
            time.sleep(0.02)
        print('%s %s "%s" "%s"' % (name, state["state"], ",".join(state["reasons"]),
                                   state["message"]), flush=True)


main()
