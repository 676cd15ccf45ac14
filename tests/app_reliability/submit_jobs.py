#!/usr/bin/env python3
"""Submits documents to a printer of the app and waits for each job's end.

    submit_jobs.py PRINTER_URI FILE:MIME[:COPIES] ...

One line per document: FILE STATE "REASONS" "MESSAGE" (STATE "refused" when
Print-Job itself failed; MESSAGE then holds the IPP status and message)."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../bench/app"))
import ipp_client  # noqa: E402


def main():
    client = ipp_client.IppClient(sys.argv[1])
    for spec in sys.argv[2:]:
        parts = spec.split(":")
        name, mime = parts[0], parts[1]
        copies = int(parts[2]) if len(parts) > 2 else None
        with open(name, "rb") as f:
            document = f.read()
        try:
            job = client.print_job(document, mime, copies=copies)
        except RuntimeError as error:
            print('%s refused "" "%s"' % (name, error), flush=True)
            continue
        end = time.monotonic() + 60
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
