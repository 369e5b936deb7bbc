"""Turns bench/run's results into the comparison table.

  table.py RESULTS.jsonl [GOOGLE_BENCHMARK.json] [--note TEXT]...

RESULTS holds one JSON object per line: interleaved pairs ("control_s" and
"peer_s" lists, or one pair per line for the command-line program) and cold
single jobs ("side", "seconds", resident memory). A chunked read's peer also
records when it held the bytes, before widening them to the control's text
("peer_bytes_s", "bytes_seconds"): those make the report-only "chunked bytes"
rows, the control's text time against the peer's bytes time. Every comparison is the
median of the per-pair ratios, shown with their min-max spread; a target is
missed only when the median misses it. Exits 1 when one is missed.
"""
import json
import statistics
import sys
from collections import defaultdict

MIB_KIB = 1024
PEER_NAMES = {"curl": "raw libcurl", "qt": "Qt Network", "requests": "Python requests",
              "curl command": "curl command"}


def ratios(control, peer, kind):
    """Per-pair ratios: "speed" is peer time / control time (above 1: the control
    is faster), "time" is control time / peer time."""
    if len(control) != len(peer) or not control:
        raise ValueError(f"{len(control)} control and {len(peer)} peer figures do not pair up")
    if kind == "speed":
        return [p / c for c, p in zip(control, peer)]
    return [c / p for c, p in zip(control, peer)]


def summary(values):
    """Median and min-max spread."""
    return statistics.median(values), min(values), max(values)


def meets(median, op, target):
    return {">=": median >= target, ">": median > target, "<=": median <= target}[op]


def show_time(t):
    return f"{t:.2f} s" if t >= 1 else f"{t * 1e3:.2f} ms" if t >= 1e-3 else f"{t * 1e6:.0f} us"


def transfer_target(row, peer):
    """(ratio kind, op, target) of a warm transfer row against a peer; None: report only."""
    if peer != "curl":
        return "speed", ">", 1.0
    kind = row.split("/")[0]
    return {"urlencode": ("speed", ">=", 3.0), "chunked": ("speed", ">=", 1.0),
            "single": ("speed", ">=", 1.1), "post": ("time", "<=", 1.1)}[kind]


class Table:
    def __init__(self):
        self.rows = []
        self.missed = False

    def add(self, what, state, control, peer, ratio, target, ok):
        self.missed |= ok is False
        self.rows.append((what, state, control, peer, ratio, target,
                          "-" if ok is None else "met" if ok else "MISSED"))

    def compare(self, what, state, control, peer, peer_name, target):
        kind, op, goal = target if target else ("speed", None, None)
        med, low, high = summary(ratios(control, peer, kind))
        word = "speed" if kind == "speed" else "time"
        ok = None if op is None else meets(med, op, goal)
        self.add(what, state, show_time(statistics.median(control)),
                 f"{show_time(statistics.median(peer))} ({peer_name})",
                 f"{med:.2f} [{low:.2f}-{high:.2f}] x{len(control)}",
                 "(none)" if op is None else f"{word} {op} {goal:g}", ok)

    def print(self, out=None):
        out = out or sys.stdout
        header = ("row", "state", "control", "peer", "ratio median [min-max] xpairs", "target",
                  "result")
        widths = [max(len(str(r[i])) for r in self.rows + [header]) for i in range(len(header))]
        print("| " + " | ".join(h.ljust(w) for h, w in zip(header, widths)) + " |", file=out)
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|", file=out)
        for r in self.rows:
            print("| " + " | ".join(str(v).ljust(w) for v, w in zip(r, widths)) + " |", file=out)


def label(row):
    kind, _, mib = row.partition("/")
    return {"post": "form POST, 10 fields", "urlencode": "URLEncode 1 MiB",
            "chunked": f"chunked (text) read {mib} MiB", "single": f"single (byte) read {mib} MiB",
            "cli": f"vizadavu program, {mib} MiB to a file"}[kind]


def bytes_label(row):
    return f"chunked bytes {row.partition('/')[2]} MiB (peer stops at bytes)"


def add_warm(table, records):
    for r in records:
        if r.get("state") == "warm":
            table.compare(label(r["row"]), "warm", r["control_s"], r["peer_s"],
                          PEER_NAMES[r["peer"]], transfer_target(r["row"], r["peer"]))
            if "peer_bytes_s" in r:
                table.compare(bytes_label(r["row"]), "warm", r["control_s"], r["peer_bytes_s"],
                              PEER_NAMES[r["peer"]], None)


def add_cold(table, records):
    """Fresh processes, one job each: the i-th control run pairs with each peer's i-th."""
    runs = defaultdict(lambda: defaultdict(list))
    for r in records:
        if r.get("state") == "cold" and "side" in r:
            runs[r["row"]][r["side"]].append(r)
    for row, sides in runs.items():
        control = sides.pop("control", [])
        if not control:
            continue
        for peer, peer_runs in sides.items():
            n = min(len(control), len(peer_runs))
            target = None if peer == "curl" else ("speed", ">", 1.0)
            table.compare(f"first transfer, {label(row)}", "cold",
                          [c["seconds"] for c in control[:n]], [p["seconds"] for p in peer_runs[:n]],
                          PEER_NAMES[peer], target)
            if all("bytes_seconds" in p for p in peer_runs[:n]) and row.startswith("chunked/"):
                table.compare(f"first transfer, {bytes_label(row)}", "cold",
                              [c["seconds"] for c in control[:n]],
                              [p["bytes_seconds"] for p in peer_runs[:n]], PEER_NAMES[peer], None)
        add_memory(table, row, control, sides)


def rise_mib(run):
    return (run["maxrss_kib"] - run["rss_before_kib"]) / MIB_KIB


def add_memory(table, row, control, peers):
    kind, _, mib = row.partition("/")
    if kind not in ("chunked", "single"):
        return
    peak = statistics.median(rise_mib(c) for c in control)
    if kind == "chunked":
        limit = 2 * int(mib) + 32
        table.add(f"  peak memory, {label(row)}", "cold", f"{peak:+.0f} MiB", "(text itself: "
                  f"{2 * int(mib)} MiB)", "-", f"<= +{limit} MiB", peak <= limit)
    for peer, runs in peers.items():
        theirs = statistics.median(rise_mib(p) for p in runs)
        table.add(f"  peak memory, {label(row)}", "cold", f"{peak:+.0f} MiB",
                  f"{theirs:+.0f} MiB ({PEER_NAMES[peer]})", f"{peak / theirs:.2f}",
                  "<= peer's" if kind == "single" else "(none)",
                  peak <= theirs if kind == "single" else None)
    kept = statistics.median((c["rss_after_release_kib"] - c["rss_before_kib"]) / MIB_KIB
                             for c in control)
    table.add(f"  resident after Clear, {label(row)}", "cold", f"{kept:+.0f} MiB", "(none)", "-",
              "<= +64 MiB", kept <= 64)


def add_cli(table, records):
    pairs = [r for r in records if r.get("row", "").startswith("cli/")]
    if not pairs:
        return
    mib = int(pairs[0]["row"].split("/")[1])
    # The program pauses one second before each transfer by design.
    table.compare(label(pairs[0]["row"]) + " (time - 1 s pause)", "cold",
                  [r["control_s"] - 1 for r in pairs], [r["peer_s"] for r in pairs],
                  "curl command", ("time", "<=", 2.0))
    peak = statistics.median(r["control_kib"] for r in pairs) / MIB_KIB
    theirs = statistics.median(r["peer_kib"] for r in pairs) / MIB_KIB
    table.add("  peak memory of that", "cold", f"{peak:.0f} MiB", f"{theirs:.0f} MiB (curl)",
              f"{peak / mib:.2f} x reply", "<= 2.5 x reply", peak <= 2.5 * mib)


def add_qt_loop(table, records):
    runs = [r for r in records if r.get("row") == "loop/qt"]
    if not runs:
        return
    r = runs[0]
    cpu, before = statistics.median(r["qt_cpu_ms"]), statistics.median(r["plain_cpu_ms"])
    table.add("CPU per submission, Qt control's loop (real 1 s pause)", "warm", f"{cpu:.1f} ms",
              f"{before:.1f} ms (processEvents alone)", f"x{len(r['qt_cpu_ms'])}", "<= 2 ms",
              cpu <= 2)
    wait, then = statistics.median(r["qt_wait_ms"]), statistics.median(r["plain_wait_ms"])
    table.add("  longest wait of an event in the pause", "warm", f"{wait:.2f} ms",
              f"{then:.2f} ms (processEvents alone)", f"{wait / then:.2f}", "<= processEvents'",
              wait <= then)


def add_google_benchmark(table, path):
    runs = {}
    for b in json.load(open(path))["benchmarks"]:
        if b.get("aggregate_name", "median") == "median":
            runs[b["run_name"].split("/iterations")[0]] = b

    def seconds(name):
        b = runs[name]
        return b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]

    if "BM_Submission_Cpu" in runs:
        cpu = runs["BM_Submission_Cpu"]["cpu_ms_per_transfer"]
        table.add("CPU per submission, plain DoEvents loop (real 1 s pause)", "warm", f"{cpu:.1f} ms", "(none)", "-",
                  "<= 20 ms", cpu <= 20)
    if "BM_Memset64MiB" not in runs:
        return
    memset = 64 * 2**20 / seconds("BM_Memset64MiB") / 1e6
    for name, what in (("BM_ClearSingleRead64MiB", "Clear, 64 MiB byte buffer"),
                       ("BM_ClearChunkedText64Mi", "Clear, 64 Mi-character text")):
        if name in runs:
            mbs = 64 * 2**20 / seconds(name) / 1e6
            table.add(what, "warm", f"{mbs:.0f} MB/s", f"{memset:.0f} MB/s (memset)",
                      f"{mbs / memset:.3f}", ">= 1000 MB/s", mbs >= 1000)
    if "BM_ClearHugeBuffer5Bytes" in runs:
        t = seconds("BM_ClearHugeBuffer5Bytes")
        table.add("Clear, 2 GiB buffer holding 5 bytes", "warm", show_time(t), "(none)", "-",
                  "<= 10 ms", t <= 10e-3)


def main(argv):
    notes = [argv[i + 1] for i, a in enumerate(argv) if a == "--note"]
    paths = [a for i, a in enumerate(argv) if a != "--note" and (i == 0 or argv[i - 1] != "--note")]
    records = [json.loads(line) for line in open(paths[0]) if line.strip()]
    table = Table()
    add_warm(table, records)
    add_cold(table, records)
    add_cli(table, records)
    add_qt_loop(table, records)
    if len(paths) > 1:
        add_google_benchmark(table, paths[1])
    table.print()
    for note in notes:
        print(note)
    return 1 if table.missed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
