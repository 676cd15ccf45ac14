"""A small IPP/1.1 client over one kept-alive HTTP connection: Print-Job and
Get-Job-Attributes, enough to time jobs without starting a process per request
(ipptool costs tens of milliseconds per call)."""
import http.client
import struct
import urllib.parse

TAG_OPERATION, TAG_JOB, TAG_END, TAG_PRINTER = 0x01, 0x02, 0x03, 0x04
TAG_INTEGER, TAG_ENUM = 0x21, 0x23
TAG_NAME, TAG_KEYWORD, TAG_URI, TAG_CHARSET, TAG_LANGUAGE, TAG_MIME = (
    0x42, 0x44, 0x45, 0x47, 0x48, 0x49)
TAG_TEXT = 0x41

JOB_STATES = {3: "pending", 4: "held", 5: "processing", 6: "stopped",
              7: "canceled", 8: "aborted", 9: "completed"}


def _attr(tag, name, value):
    if isinstance(value, int):
        data = struct.pack(">i", value)
    else:
        data = value.encode()
    return (struct.pack(">BH", tag, len(name)) + name.encode() +
            struct.pack(">H", len(data)) + data)


def parse_attributes(body):
    """Status code and a dict name -> list of values (all groups merged)."""
    status = struct.unpack(">H", body[2:4])[0]
    at, attrs, name = 8, {}, None
    while at < len(body):
        tag = body[at]
        at += 1
        if tag <= 0x0F:
            if tag == TAG_END:
                break
            continue
        nlen = struct.unpack(">H", body[at:at + 2])[0]
        at += 2
        if nlen:
            name = body[at:at + nlen].decode(errors="replace")
        at += nlen
        vlen = struct.unpack(">H", body[at:at + 2])[0]
        at += 2
        raw = body[at:at + vlen]
        at += vlen
        if tag in (TAG_INTEGER, TAG_ENUM) and vlen == 4:
            value = struct.unpack(">i", raw)[0]
        else:
            value = raw.decode(errors="replace")
        attrs.setdefault(name, []).append(value)
    return status, attrs


class IppClient:
    def __init__(self, printer_uri, timeout=60):
        self.uri = printer_uri
        parts = urllib.parse.urlsplit(printer_uri)
        self.host, self.port, self.path = parts.hostname, parts.port or 631, parts.path
        self.timeout = timeout
        self.conn = None
        self.request_id = 0

    def _post(self, body):
        for attempt in range(2):
            if self.conn is None:
                self.conn = http.client.HTTPConnection(self.host, self.port,
                                                       timeout=self.timeout)
            try:
                self.conn.request("POST", self.path, body,
                                  {"Content-Type": "application/ipp"})
                return self.conn.getresponse().read()
            except (http.client.HTTPException, OSError):
                self.conn.close()
                self.conn = None
                if attempt:
                    raise

    def _header(self, operation):
        self.request_id += 1
        return (struct.pack(">BBHI", 1, 1, operation, self.request_id) +
                bytes([TAG_OPERATION]) +
                _attr(TAG_CHARSET, "attributes-charset", "utf-8") +
                _attr(TAG_LANGUAGE, "attributes-natural-language", "en") +
                _attr(TAG_URI, "printer-uri", self.uri) +
                _attr(TAG_NAME, "requesting-user-name", "bench"))

    def print_job(self, document, mime, copies=None, name="receipt"):
        """Job id (or raises with the IPP status)."""
        body = (self._header(0x0002) + _attr(TAG_NAME, "job-name", name) +
                _attr(TAG_MIME, "document-format", mime))
        if copies:
            body += bytes([TAG_JOB]) + _attr(TAG_INTEGER, "copies", copies)
        body += bytes([TAG_END]) + document
        status, attrs = parse_attributes(self._post(body))
        if status >= 0x0100 or "job-id" not in attrs:
            raise RuntimeError("Print-Job failed: status 0x%04x %s" %
                               (status, attrs.get("status-message")))
        return attrs["job-id"][0]

    def job(self, job_id):
        """Attributes of a job: job-state (name), job-state-reasons, job-state-message."""
        body = (self._header(0x0009) + _attr(TAG_INTEGER, "job-id", job_id) +
                bytes([TAG_END]))
        _, attrs = parse_attributes(self._post(body))
        state = attrs.get("job-state", [0])[0]
        return {"state": JOB_STATES.get(state, str(state)),
                "reasons": attrs.get("job-state-reasons", []),
                "message": attrs.get("job-state-message", [""])[0],
                "impressions": attrs.get("job-impressions-completed", [0])[0]}
