"""Python requests as a benchmark peer, against the same reply server as the control.

  requests_peer.py --worker BASE     reads one row per line on standard input
                                     (post, chunked/MIB, single/MIB), runs it and
                                     answers the seconds until the result was held
                                     and until the bytes were, or "error: ...";
                                     "text chunked/MIB" answers the text instead,
                                     as hex digits of its UTF-16BE encoding.
  requests_peer.py --cold BASE ROW   one job, the first in this process: one JSON
                                     line with its times and resident memory.

Each job is timed inside Python from requests.post/get until the reply is held
as bytes, and for a chunked read further, until it is held as a str decoded as
the control reads Windows-1252. Python's own allocator, untuned.
"""
import codecs
import gc
import json
import resource
import sys
import time

import requests

# Windows-1252 as the control reads it, one character per byte. Python's cp1252
# codec refuses the five bytes the code page leaves undefined; the control
# gives them the C1 control of the same value, as Windows does.
WINDOWS_1252 = "".join(bytes([b]).decode("cp1252", "ignore") or chr(b) for b in range(256))

FIELDS = [("field%d" % (i % 10), "value with spaces & symbols") for i in range(1, 11)]


def job(base, row):
    """Runs one job; returns its seconds until the result was held and until the
    bytes were, and the result (a str for a chunked read, else bytes)."""
    kind, _, mib = row.partition("/")
    if kind == "post":
        size = 0
        start = time.perf_counter()
        reply = requests.post(base + "/0", data=FIELDS)
        body = reply.content
    elif kind in ("chunked", "single"):
        size = int(mib) << 20
        start = time.perf_counter()
        reply = requests.get(f"{base}/{size}")
        body = reply.content
    else:
        raise ValueError("unknown row " + row)
    bytes_seconds = time.perf_counter() - start
    if kind == "chunked":
        body = codecs.charmap_decode(body, "strict", WINDOWS_1252)[0]
    seconds = time.perf_counter() - start
    if reply.status_code != 200 or len(body) != size:
        raise RuntimeError(f"status {reply.status_code}, {len(body)} of {size} bytes")
    return seconds, bytes_seconds, body


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def worker(base):
    for line in sys.stdin:
        try:
            request = line.split()
            seconds, bytes_seconds, body = job(base, request[-1])
            if request[0] == "text":
                print(body.encode("utf-16-be").hex(), flush=True)
                continue
            del body
            print(f"{seconds:.9g} {bytes_seconds:.9g}", flush=True)
        except Exception as e:  # the caller shows it and stops
            print(f"error: {e}", flush=True)


def cold(base, row):
    before = resident_kib()
    seconds, bytes_seconds, body = job(base, row)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    del body
    gc.collect()
    print(json.dumps({"row": row, "side": "requests", "state": "cold", "seconds": seconds,
                      "bytes_seconds": bytes_seconds, "maxrss_kib": peak, "rss_before_kib": before,
                      "rss_after_release_kib": resident_kib()}))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--worker":
        worker(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "--cold":
        cold(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
