"""Python requests as a benchmark peer, against the same reply server as the control.

  requests_peer.py --worker BASE     reads one row per line on standard input
                                     (post, chunked/MIB, single/MIB), runs it and
                                     answers the seconds it took, or "error: ...".
  requests_peer.py --cold BASE ROW   one job, the first in this process: one JSON
                                     line with its time and resident memory.

Each job is timed inside Python around requests.post/get, until the reply is
held as bytes. Python's own allocator, untuned.
"""
import gc
import json
import resource
import sys
import time

import requests

FIELDS = [("field%d" % (i % 10), "value with spaces & symbols") for i in range(1, 11)]


def job(base, row):
    """Runs one job; returns its seconds and the reply it holds."""
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
    seconds = time.perf_counter() - start
    if reply.status_code != 200 or len(body) != size:
        raise RuntimeError(f"status {reply.status_code}, {len(body)} of {size} bytes")
    return seconds, body


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def worker(base):
    for line in sys.stdin:
        try:
            seconds, body = job(base, line.strip())
            del body
            print(f"{seconds:.9g}", flush=True)
        except Exception as e:  # the caller shows it and stops
            print(f"error: {e}", flush=True)


def cold(base, row):
    before = resident_kib()
    seconds, body = job(base, row)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    del body
    gc.collect()
    print(json.dumps({"row": row, "side": "requests", "state": "cold", "seconds": seconds,
                      "maxrss_kib": peak, "rss_before_kib": before,
                      "rss_after_release_kib": resident_kib()}))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--worker":
        worker(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "--cold":
        cold(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
