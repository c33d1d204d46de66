#!/usr/bin/env python3
"""Tests of bench/report.py's reading of saved results and of the Markdown it
writes, on the fixture in bench/testdata/report (the charts need matplotlib
and are not drawn here)."""

import json
import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import report  # noqa: E402

FIXTURE = os.path.join(HERE, "testdata", "report")
ENGINE = "engine scan+duplicates"


def table_rows(markdown, heading):
    """The cells of the first table after a heading, one list per row, header excluded."""
    lines = markdown.split("\n")
    start = lines.index(heading)
    rows = []
    for line in lines[start + 1:]:
        if line.startswith("|"):
            rows.append([c.strip() for c in line.strip("|").split("|")])
        elif rows:
            break
    return rows[2:]


class ReadingResults(unittest.TestCase):
    def setUp(self):
        self.data = report.load_group(FIXTURE, "dups")

    def test_facts_and_machine(self):
        self.assertEqual(self.data["facts"]["date"], "2026-12-10T17:41:45Z")
        self.assertEqual(report.machine_of(self.data["facts"]["machine"], "24 GiB RAM"),
                         "2 CPUs, 24 GiB RAM, Test CPU @ 2.0GHz, kernel 6.1.0-test, file system ext4")
        self.assertEqual(report.tree_of(self.data), "dups (20216 entries)")

    def test_missing_group_is_none(self):
        self.assertIsNone(report.load_group(FIXTURE, "scan"))

    def test_rows_put_the_engine_first_and_bounds_last(self):
        rows = report.rows_of(self.data, ENGINE)
        self.assertEqual([r["name"] for r in rows],
                         [ENGINE, "jdupes -r -q", "fdupes -r -q", "rdfind -dryrun", "b3sum every file, 2 procs"])
        self.assertTrue(rows[2]["timeout"])

    def test_best_peer_skips_bounds_and_timeouts(self):
        # b3sum every file is faster than every peer but only bounds the job
        self.assertEqual(report.best_peer(report.rows_of(self.data, ENGINE), ENGINE)["name"], "jdupes -r -q")

    def test_scale_points_sorted_and_checked(self):
        scale = report.load_scale(os.path.join(FIXTURE, "scale.json"))
        self.assertEqual([p["entries"] for p in scale["points"]], [1000000, 3000000])
        self.assertIsNone(report.load_scale(os.path.join(FIXTURE, "absent.json")))
        with tempfile.NamedTemporaryFile("w", suffix=".json") as fh:
            json.dump({"points": [{"scan_wall_s": 1.0}]}, fh)
            fh.flush()
            with self.assertRaises(ValueError):
                report.load_scale(fh.name)


class Markdown(unittest.TestCase):
    def render(self, results=FIXTURE, scale_file="scale.json", meta=None):
        groups = {name: report.load_group(results, name) for name in report.GROUPS}
        scale = report.load_scale(os.path.join(FIXTURE, scale_file))
        charts = {"dups": "performance/dups.png", "scale_memory": "performance/scale-memory.png"}
        return report.render_markdown(results, meta if meta is not None else report.load_meta(results),
                                      groups, scale, charts, "make it")

    def test_group_table_medians_and_ratios_to_the_engine(self):
        md = self.render()
        rows = table_rows(md, "## Finding duplicate files")
        by_name = {r[0]: r for r in rows}
        # command, wall, min-max, CPU, RSS, exit, wall / engine, CPU / engine
        self.assertEqual(rows[0], ["**quillmarsh scan+duplicates**", "1.000", "0.900-1.500", "0.800", "40.0", "0",
                                   "1.00", "1.00"])
        self.assertEqual(by_name["jdupes -r -q"][6:], ["2.00", "2.00"])
        self.assertEqual(by_name["rdfind -dryrun"][2:], ["3.000-5.000", "3.200", "10.2", "0,1", "4.00", "4.00"])
        self.assertEqual(by_name["fdupes -r -q"][1], "timeout")
        self.assertEqual(by_name["b3sum every file, 2 procs"][6:], ["0.50", "0.50"])

    def test_summary_sentence_compares_with_best_peer_and_bound(self):
        md = " ".join(self.render().split())
        self.assertIn("The engine took 0.50x the wall time and 0.50x the CPU time of `jdupes -r -q`", md)
        self.assertIn("Against `b3sum every file, 2 procs`: 2.00x the wall time, 2.00x the CPU time.", md)
        # per round: 1.5/2.4, 0.9/2.0, 1.0/1.9, 1.0/2.0, 1.2/2.0 -> median 1.0/1.9
        self.assertIn("the median ratio is 0.53x in wall time and 0.50x in CPU time", md)

    def test_round_ratio_needs_rounds_that_pair_up(self):
        data = report.load_group(FIXTURE, "dups")
        self.assertAlmostEqual(report.round_ratio(data, ENGINE, "jdupes -r -q", "wall"), 1.0 / 1.9)
        self.assertIsNone(report.round_ratio(data, ENGINE, "rdfind -dryrun", "wall"))  # no raw runs
        data["raw"]["jdupes -r -q"][2]["timeout"] = True
        self.assertIsNone(report.round_ratio(data, ENGINE, "jdupes -r -q", "wall"))
        data["raw"]["jdupes -r -q"].pop()
        self.assertIsNone(report.round_ratio(data, ENGINE, "jdupes -r -q", "cpu"))

    def test_header_says_machine_date_commit_rounds(self):
        md = self.render(meta={"groups": {"dups": {"commit": "0123abcd", "machine": "the test machine",
                                                    "load": [3.5, 12.25]}}})
        self.assertIn("- Machine: the test machine", md)
        self.assertIn("- Date: 2026-12-10, 17:41 UTC", md)
        self.assertIn("- Commit: 0123abcd", md)
        self.assertIn("- Rounds: 5 per command", md)
        self.assertIn("- Load average (1 minute) when each group started and ended: dups 3.5 to 12.2;", md)
        self.assertIn("    make it -n 5", md)
        # without meta.json the machine comes from run_peers' facts
        md = self.render(meta={})
        self.assertIn("- Machine: 2 CPUs, Test CPU @ 2.0GHz, kernel 6.1.0-test, file system ext4", md)
        self.assertIn("- Commit: unknown", md)
        self.assertNotIn("Load average", md)

    def test_charts_linked_and_groups_not_run_left_out(self):
        md = self.render()
        self.assertIn("![Finding duplicate files](performance/dups.png)", md)
        self.assertIn("![scale memory](performance/scale-memory.png)", md)
        self.assertNotIn("## Scanning a tree", md)
        self.assertNotIn("## Hashing one large file", md)

    def test_scale_table_with_missing_figures(self):
        md = self.render()
        rows = table_rows(md, "## Memory and time against entry count")
        self.assertEqual(rows[0], ["1,000,000", "2.000", "3.000", "80.0", "83.9", "4.00", "100.0", "0.25", "1.500"])
        self.assertEqual(rows[1][0], "3,000,000")
        self.assertEqual(rows[1][-1], "-")  # no duplicates figure at this point
        self.assertIn("Scan time per million entries, wall / CPU: 2.000 / 3.000 s at 1,000,000; "
                      "2.000 / 3.000 s at 3,000,000",
                      " ".join(md.split()))

    def test_no_scale_file(self):
        md = self.render(scale_file="absent.json")
        self.assertIn("Not measured yet", md)

    def test_date_range(self):
        self.assertEqual(report.date_range("2026-12-10T17:41:45Z", "2026-12-10T17:52:01Z"),
                         "2026-12-10, 17:41 to 17:52 UTC")
        self.assertEqual(report.date_range("2026-12-10T23:59:00Z", "2026-12-11T00:10:00Z"),
                         "2026-12-10T23:59:00Z to 2026-12-11T00:10:00Z")

    def test_meta_from_a_measured_run_is_read_back(self):
        with tempfile.TemporaryDirectory() as tmp:
            for f in ("dups.json", "dups.facts.txt"):
                shutil.copy(os.path.join(FIXTURE, f), tmp)
            report.save_meta(tmp, {"groups": {"dups": {"commit": "feedbeef", "machine": "m"}}})
            self.assertIn("- Commit: feedbeef", self.render(results=tmp))


if __name__ == "__main__":
    unittest.main()
