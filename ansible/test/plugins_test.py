#!/usr/bin/env python3
"""The role's manifest reader and table filter on archives and records made
here: python3 ansible/test/plugins_test.py"""

import importlib.util
import io
import json
import os
import tempfile
import unittest
import zipfile

ROLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "roles", "krtlogs")


def load(name, path):
    spec = importlib.util.spec_from_file_location(name, os.path.join(ROLE, path))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


manifest_module = load("krtlogs_manifest", "library/krtlogs_manifest.py")
table_filter = load("krtlogs_filter", "filter_plugins/krtlogs.py")


def unit(name, status, reason=None):
    return {"name": name, "address": "10.1.2." + name, "status": status, "reason": reason}


class ManifestTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "KRTLogs.zip")

    def tearDown(self):
        self.folder.cleanup()

    def write(self, entries):
        with zipfile.ZipFile(self.path, "w") as archive:
            for name, data in entries.items():
                archive.writestr(name, data)

    def test_counts_by_status_and_lists_failed_units(self):
        units = [
            unit("1", "ok"),
            unit("2", "failed", "no answer"),
            unit("3", "empty"),
            unit("4", "ok"),
        ]
        self.write({"KRT1_log.txt": "x\n", "MANIFEST.json": json.dumps({"units": units})})
        counts, failed = manifest_module.summarise(manifest_module.read_manifest(self.path))
        self.assertEqual(counts, {"ok": 2, "empty": 1, "failed": 1})
        self.assertEqual(failed, [{"name": "2", "address": "10.1.2.2", "reason": "no answer"}])

    def test_archive_without_manifest_is_unknown_not_an_error(self):
        self.write({"KRT1_log.txt": "x\n"})
        self.assertIsNone(manifest_module.read_manifest(self.path))

    def test_refusals(self):
        cases = {
            "truncated archive": None,
            "manifest not JSON": {"MANIFEST.json": "{units"},
            "manifest without units": {"MANIFEST.json": "{}"},
            "unit of unknown status": {"MANIFEST.json": json.dumps({"units": [unit("1", "lost")]})},
        }
        for case, entries in cases.items():
            with self.subTest(case):
                if entries is None:
                    self.write({"KRT1_log.txt": "x" * 1000})
                    with open(self.path, "r+b") as f:
                        f.truncate(os.path.getsize(self.path) // 2)
                else:
                    self.write(entries)
                with self.assertRaises(ValueError):
                    manifest_module.summarise(manifest_module.read_manifest(self.path))


class TableTest(unittest.TestCase):
    SITES = [
        {
            "site": "north",
            "status": "ok",
            "exit_status": 0,
            "units_collected": 12,
            "units_empty": 0,
            "units_failed": 0,
            "size": 3 * 1024 * 1024 + 1,
            "archive": "/c/north/KRTLogs_1.zip",
            "reason": None,
        },
        {
            "site": "a-long-site-name",
            "status": "partial",
            "exit_status": 1,
            "units_collected": None,
            "units_empty": None,
            "units_failed": None,
            "size": 900,
            "archive": "/c/a/KRTLogs_2.zip",
            "reason": "krtlogs: found 4 of 5 units",
            "kept_folder": "/var/tmp/krtlogs/run-x",
        },
        {
            "site": "depot",
            "status": "failed",
            "exit_status": None,
            "size": None,
            "archive": None,
            "reason": "unreachable: refused",
        },
    ]

    def test_rows_align_and_unknowns_show_as_dashes(self):
        lines = table_filter.krtlogs_table(self.SITES)
        header, north, long_site, depot = lines[:4]
        # Every column starts where its header does.
        for name in ("STATUS", "EXIT", "OK", "SIZE", "ARCHIVE"):
            column = header.index(name) + (len(name) if name in table_filter.RIGHT else 0)
            for row in (north, long_site, depot):
                if name in table_filter.RIGHT:
                    self.assertNotEqual(row[column - 1], " ", (name, row))
                    self.assertTrue(column == len(row) or row[column] == " ", (name, row))
                else:
                    self.assertNotEqual(row[column], " ", (name, row))
                    self.assertEqual(row[column - 1], " ", (name, row))
        self.assertEqual(
            north.split(),
            ["north", "ok", "0", "12", "0", "0", "3.0", "MiB", "/c/north/KRTLogs_1.zip"],
        )
        self.assertEqual(long_site.split()[2:7], ["1", "-", "-", "-", "900"])
        self.assertEqual(depot.split(), ["depot", "failed", "-", "-", "-", "-", "-", "-"])

    def test_notes_name_what_needs_a_look(self):
        lines = table_filter.krtlogs_table(self.SITES)
        self.assertEqual(
            lines[4:],
            [
                "",
                "a-long-site-name: krtlogs: found 4 of 5 units",
                "a-long-site-name: run folder kept on the site: /var/tmp/krtlogs/run-x",
                "depot: unreachable: refused",
                "",
                "1 of 3 sites failed",
            ],
        )

    def test_sizes(self):
        for size, text in (
            (None, "-"),
            (0, "0 B"),
            (1023, "1023 B"),
            (1024, "1.0 KiB"),
            (1536 * 1024, "1.5 MiB"),
            (5 * 1024**5, "5120.0 TiB"),
        ):
            with self.subTest(size=size):
                self.assertEqual(table_filter.size_text(size), text)


if __name__ == "__main__":
    unittest.main()
