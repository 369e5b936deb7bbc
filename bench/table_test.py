"""Checks of bench/table.py's arithmetic: pairing, ratio direction, medians
deciding, and the rows built from cold runs and the command-line pairs."""
import io
import json
import os
import tempfile
import unittest
import unittest.mock

import table


def cold(side, seconds, maxrss_mib, before_mib=10, after_mib=10, row="single/256"):
    return {"row": row, "side": side, "state": "cold", "seconds": seconds,
            "maxrss_kib": maxrss_mib * 1024, "rss_before_kib": before_mib * 1024,
            "rss_after_release_kib": after_mib * 1024}


def results(t):
    return {r[0] + " | " + r[3]: r for r in t.rows}


class Ratios(unittest.TestCase):
    def test_direction_and_pairing(self):
        self.assertEqual(table.ratios([1, 2], [2, 2], "speed"), [2.0, 1.0])
        self.assertEqual(table.ratios([1, 2], [2, 2], "time"), [0.5, 1.0])
        for control, peer in (([1, 2], [1]), ([], [])):
            with self.assertRaises(ValueError):
                table.ratios(control, peer, "speed")

    def test_summary_median_of_even_count_and_spread(self):
        self.assertEqual(table.summary([4, 1, 3, 2]), (2.5, 1, 4))
        self.assertEqual(table.summary([0.9, 1.2, 0.5, 1.1, 1.3]), (1.1, 0.5, 1.3))

    def test_targets_per_peer_and_row(self):
        self.assertEqual(table.transfer_target("post", "curl"), ("time", "<=", 1.1))
        self.assertEqual(table.transfer_target("single/1", "curl"), ("speed", ">=", 1.1))
        self.assertEqual(table.transfer_target("chunked/256", "curl"), ("speed", ">=", 1.0))
        self.assertEqual(table.transfer_target("urlencode", "curl"), ("speed", ">=", 3.0))
        for row in ("post", "chunked/1", "single/256"):
            self.assertEqual(table.transfer_target(row, "qt"), ("speed", ">", 1.0))
            self.assertEqual(table.transfer_target(row, "requests"), ("speed", ">", 1.0))


class Verdicts(unittest.TestCase):
    def test_median_decides_not_the_worst_pair(self):
        t = table.Table()
        # One slow pair (ratio 0.5) among good ones: the median 1.2 meets >= 1.0.
        t.compare("x", "warm", [2, 1, 1, 1, 1], [1, 1.2, 1.2, 1.3, 1.1], "p", ("speed", ">=", 1.0))
        self.assertEqual(t.rows[-1][-1], "met")
        self.assertIn("[0.50-1.30] x5", t.rows[-1][4])
        self.assertFalse(t.missed)
        # Most pairs slow: the median misses although the best pair passes.
        t.compare("y", "warm", [1, 1, 1, 1, 1], [0.9, 0.8, 2, 0.95, 0.9], "p", ("speed", ">=", 1.0))
        self.assertEqual(t.rows[-1][-1], "MISSED")
        self.assertTrue(t.missed)

    def test_time_target_and_strictly_faster(self):
        t = table.Table()
        t.compare("post", "warm", [1.1] * 5, [1.0] * 5, "p", ("time", "<=", 1.1))
        t.compare("tie", "warm", [1.0] * 5, [1.0] * 5, "p", ("speed", ">", 1.0))
        t.compare("info", "cold", [1.0] * 5, [9.0] * 5, "p", None)
        self.assertEqual([r[-1] for r in t.rows], ["met", "MISSED", "-"])


class ColdAndCli(unittest.TestCase):
    def test_cold_runs_pair_by_order_and_memory_rows(self):
        records = [cold("control", 1, 300, after_mib=80), cold("curl", 2, 530),
                   cold("control", 3, 300, after_mib=80), cold("curl", 1, 530),
                   cold("control", 1, 300, after_mib=80), cold("curl", 2, 530)]
        t = table.Table()
        table.add_cold(t, records)
        rows = {r[0]: r for r in t.rows}
        first = rows["first transfer, single (byte) read 256 MiB"]
        self.assertIn("2.00 [0.33-2.00] x3", first[4])
        self.assertEqual(first[-1], "-")  # no target against raw libcurl cold
        peak = rows["  peak memory, single (byte) read 256 MiB"]
        self.assertEqual((peak[2], peak[-1]), ("+290 MiB", "met"))  # 300 - 10 <= 530 - 10
        kept = rows["  resident after Clear, single (byte) read 256 MiB"]
        self.assertEqual((kept[2], kept[-1]), ("+70 MiB", "MISSED"))

    def test_text_read_peak_is_held_to_the_text_plus_32_mib(self):
        for maxrss, verdict in ((10 + 544, "met"), (10 + 545, "MISSED")):
            t = table.Table()
            table.add_cold(t, [cold("control", 1, maxrss, row="chunked/256")])
            self.assertEqual(t.rows[0][-1], verdict)

    def test_chunked_rows_compare_text_and_report_bytes(self):
        warm = {"row": "chunked/16", "peer": "qt", "state": "warm", "control_s": [2] * 5,
                "peer_s": [3] * 5, "peer_bytes_s": [1] * 5}
        colds = [dict(cold(side, 2, 600, row="chunked/256"), bytes_seconds=b)
                 for side, b in (("control", 2), ("curl", 1))]
        colds[1]["seconds"] = 4
        t = table.Table()
        table.add_warm(t, [warm])
        table.add_cold(t, colds)
        got = [(r[0], r[4][:4], r[5], r[-1]) for r in t.rows[:4]]
        self.assertEqual(got, [
            ("chunked (text) read 16 MiB", "1.50", "speed > 1", "met"),
            ("chunked bytes 16 MiB (peer stops at bytes)", "0.50", "(none)", "-"),
            ("first transfer, chunked (text) read 256 MiB", "2.00", "(none)", "-"),
            ("first transfer, chunked bytes 256 MiB (peer stops at bytes)", "0.50", "(none)", "-")])

    def test_cli_subtracts_the_pause_and_checks_peak(self):
        pairs = [{"row": "cli/300", "control_s": c, "peer_s": p, "control_kib": k,
                  "peer_kib": 11000} for c, p, k in ((2.0, 0.5, 700 * 1024), (3.0, 0.5, 760 * 1024),
                                                     (1.8, 0.5, 740 * 1024))]
        t = table.Table()
        table.add_cli(t, pairs)
        self.assertIn("2.00 [1.60-4.00] x3", t.rows[0][4])
        self.assertEqual([r[-1] for r in t.rows], ["met", "met"])

    def test_qt_loop_rows_take_medians_and_compare_the_waits(self):
        t = table.Table()
        table.add_qt_loop(t, [{"row": "loop/qt", "qt_cpu_ms": [1.5, 9, 1.8],
                               "plain_cpu_ms": [20, 21, 22], "qt_wait_ms": [0.1, 3, 0.2],
                               "plain_wait_ms": [1.1, 1.2, 1.3]}])
        self.assertEqual([(r[2], r[-1]) for r in t.rows], [("1.8 ms", "met"), ("0.20 ms", "met")])

    def test_main_exits_nonzero_when_a_median_misses(self):
        with tempfile.NamedTemporaryFile("w", suffix=".jsonl", delete=False) as f:
            f.write(json.dumps({"row": "chunked/16", "peer": "qt", "state": "warm",
                                "control_s": [2] * 5, "peer_s": [1] * 5}) + "\n\n")
        try:
            out = io.StringIO()
            with unittest.mock.patch("sys.stdout", out):
                self.assertEqual(table.main([f.name, "--note", "load 1.0"]), 1)
            self.assertIn("MISSED", out.getvalue())
            self.assertIn("load 1.0", out.getvalue())
        finally:
            os.unlink(f.name)


if __name__ == "__main__":
    unittest.main()
