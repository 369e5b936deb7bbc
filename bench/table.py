"""Turns vizadavu_bench's JSON output into the comparison table."""
import json
import sys

runs = {}
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        if b.get("aggregate_name", "median") == "median":
            runs[b["run_name"]] = b


def run(name):
    # Runs with fixed iterations carry them in their name ("/iterations:3/real_time").
    return runs.get(name) or next(b for n, b in runs.items() if n.startswith(name + "/"))


def seconds(name):
    b = run(name)
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    return b["real_time"] * scale


def show(t):
    return f"{t * 1e3:.2f} ms" if t >= 1e-3 else f"{t * 1e6:.0f} us"


rows = []
failed = False


def row(what, control, raw, ratio, target, ok):
    global failed
    failed |= ok is False
    rows.append((what, control, raw, ratio, target, "-" if ok is None else ("pass" if ok else "FAIL")))


c, r = seconds("BM_URLEncode_Control"), seconds("BM_URLEncode_CurlEscape")
row("URLEncode 1 MiB", show(c), show(r) + " (curl_easy_escape)", f"{r / c:.2f}", "speed >= 1.0", r / c >= 1.0)
for mode, target in (("Chunked", 0.8), ("Single", 0.9)):
    for size in (1, 16, 256):
        c = seconds(f"BM_{mode}Read_Control/{size}")
        r = seconds(f"BM_Read_RawCurl/{size}")
        needed = mode == "Single" or size >= 16
        row(f"{mode.lower()} read {size} MiB", show(c), show(r) + " (easy into std::string)",
            f"{r / c:.2f}", f"speed >= {target}" if needed else "(none)", r / c >= target if needed else None)
c16, c256 = seconds("BM_ChunkedRead_Control/16"), seconds("BM_ChunkedRead_Control/256")
row("chunked read 256 MiB vs 16 MiB", show(c256), show(c16) + " (16 MiB)", f"{c256 / c16:.1f}x",
    "<= 20x", c256 / c16 <= 20)
peak = run("BM_ChunkedRead_Control/256")["peak_MiB"]
row("chunked read 256 MiB, peak memory", f"{peak:.0f} MiB", "reply text 512 MiB", f"{peak - 512:+.0f} MiB",
    "<= +32 MiB", peak <= 512 + 32)
c, r = seconds("BM_FormPost_Control"), seconds("BM_FormPost_RawCurl")
row("form POST, 10 fields", show(c), show(r) + " (easy POST)", f"{c / r:.2f}x time", "<= 1.5x", c / r <= 1.5)
cpu = run("BM_Submission_Cpu")["cpu_ms_per_transfer"]
row("CPU per plain loopback submission (1 s pause)", f"{cpu:.1f} ms", "(none)", "-", "<= 20 ms", cpu <= 20)
m = 64 * 2**20 / seconds("BM_Memset64MiB") / 1e6
for name, what in (("BM_ClearSingleRead64MiB", "Clear, 64 MiB byte buffer"),
                   ("BM_ClearChunkedText64Mi", "Clear, 64 Mi-character text")):
    mbs = 64 * 2**20 / seconds(name) / 1e6
    row(what, f"{mbs:.0f} MB/s", f"{m:.0f} MB/s (memset)", f"{mbs / m:.3f}", ">= 1000 MB/s", mbs >= 1000)
huge = run("BM_ClearHugeBuffer5Bytes")
t = seconds("BM_ClearHugeBuffer5Bytes")
row("Clear, 2 GiB buffer holding 5 bytes", show(t), "(none)", "-", "<= 10 ms", t <= 10e-3)
rise = huge["peak_rise_MiB"]
row("  resident memory during that Clear", f"{huge['rss_before_MiB']:.0f} -> {huge['rss_after_MiB']:.0f} MiB",
    "(none)", f"peak {rise:+.1f} MiB", "no rise", rise <= 0)

widths = [max(len(str(x[i])) for x in rows + [("benchmark", "control", "raw alternative", "ratio", "target", "result")]) for i in range(6)]
header = ("benchmark", "control", "raw alternative", "ratio", "target", "result")
print("| " + " | ".join(h.ljust(w) for h, w in zip(header, widths)) + " |")
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for x in rows:
    print("| " + " | ".join(str(v).ljust(w) for v, w in zip(x, widths)) + " |")
sys.exit(1 if failed else 0)
