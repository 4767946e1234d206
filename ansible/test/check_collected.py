#!/usr/bin/env python3
"""Checks what ansible/collect.yml left after the run of ansible/test/run.sh:

    check_collected.py TEST_ROOT PLAYBOOK_OUTPUT VERSION ENTRIES

the archives fetched to TEST_ROOT/collected/<site>/ (three zip readers,
their SHA256SUMS, every log complete), summary.json, the table in the
play's output and the sites' work folders. Prints one line per fault and
exits 1 when there is any.
"""

import hashlib
import json
import os
import re
import subprocess
import sys
import zipfile

faults = []


def expect(condition, message):
    if not condition:
        faults.append(message)
    return condition


def check_archive(site, path, units, extension, entries):
    """The archive opens in every reader and holds the logs of `units`
    (names), each of `entries` entries, as its SHA256SUMS and MANIFEST.json
    say. JSON lines are counted and parsed; a text log (whose entries may
    hold line feeds) is checked against the manifest."""
    for reader in (["unzip", "-tq", path], ["7z", "t", path]):
        run = subprocess.run(reader, capture_output=True, text=True)
        expect(
            run.returncode == 0,
            "%s: %s fails on %s: %s" % (site, reader[0], path, run.stdout + run.stderr),
        )
    with zipfile.ZipFile(path) as archive:
        expect(archive.testzip() is None, "%s: zipfile finds a bad entry in %s" % (site, path))
        logs = ["KRT%s_log.%s" % (unit, extension) for unit in units]
        names = sorted(archive.namelist())
        expect(
            names == sorted(logs + ["MANIFEST.json", "SHA256SUMS"]),
            "%s: the archive holds %s" % (site, names),
        )
        sums = {}
        for line in archive.read("SHA256SUMS").decode().splitlines():
            digest, name = line.split("  ", 1)
            sums[name] = digest
        expect(sorted(sums) == sorted(logs), "%s: SHA256SUMS names %s" % (site, sorted(sums)))
        manifest = json.loads(archive.read("MANIFEST.json"))
        described = dict((unit["file"], unit) for unit in manifest["units"] if unit["file"])
        for log in logs:
            if log not in names:
                continue
            data = archive.read(log)
            expect(
                hashlib.sha256(data).hexdigest() == sums.get(log),
                "%s: %s does not match SHA256SUMS" % (site, log),
            )
            unit = described.get(log, {})
            expect(
                unit.get("entries") == entries and unit.get("bytes") == len(data),
                "%s: MANIFEST.json describes %s as %s" % (site, log, unit),
            )
            if extension == "jsonl":
                lines = data.decode().splitlines()
                expect(
                    len(lines) == entries,
                    "%s: %s holds %d lines, not %d" % (site, log, len(lines), entries),
                )
                try:
                    for line in lines:
                        json.loads(line)
                except ValueError as e:
                    expect(False, "%s: %s holds a line that is not JSON: %s" % (site, log, e))


def main():
    root, output_path, version, entries = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    collected = os.path.join(root, "collected")
    with open(output_path) as f:
        output = f.read()

    # The controller's folder: the summary and one folder per collected
    # site, each holding its one archive.
    expect(
        sorted(os.listdir(collected)) == ["site-a", "site-b", "summary.json"],
        "collected/ holds %s" % sorted(os.listdir(collected)),
    )
    archives = {}
    for site in ("site-a", "site-b"):
        folder = os.path.join(collected, site)
        files = os.listdir(folder) if os.path.isdir(folder) else []
        if expect(
            len(files) == 1 and re.fullmatch(r"KRTLogs_\d{8}-\d{6}\.zip", files[0]),
            "%s: fetched %s" % (site, files),
        ):
            archives[site] = os.path.join(folder, files[0])
    if "site-a" in archives:
        check_archive("site-a", archives["site-a"], ["1", "2", "3"], "jsonl", entries)
    if "site-b" in archives:
        check_archive("site-b", archives["site-b"], ["1", "2", "3"], "txt", entries)

    with open(os.path.join(collected, "summary.json")) as f:
        summary = json.load(f)
    expect(
        summary["counts"] == {"ok": 1, "partial": 1, "failed": 2}, "counts: %s" % summary["counts"]
    )
    sites = {s["site"]: s for s in summary["sites"]}
    expect(
        [s["site"] for s in summary["sites"]] == ["site-a", "site-b", "site-c", "site-d"],
        "summary sites: %s" % [s["site"] for s in summary["sites"]],
    )

    # Collected sites: the summary describes the file on the controller.
    expected = {
        "site-a": dict(
            status="ok",
            exit_status=0,
            units_collected=3,
            units_empty=0,
            units_failed=0,
            reason=None,
            kept_folder=None,
            version="krtlogs " + version,
        ),
        "site-b": dict(
            status="partial",
            exit_status=1,
            units_collected=3,
            units_empty=0,
            units_failed=1,
            kept_folder=None,
            version="krtlogs " + version,
        ),
        "site-c": dict(
            status="failed",
            exit_status=255,
            archive=None,
            size=None,
            units_collected=None,
            failed_units=None,
            kept_folder=None,
            version="krtlogs " + version,
        ),
        "site-d": dict(
            status="failed",
            exit_status=None,
            archive=None,
            size=None,
            units_collected=None,
            kept_folder=None,
            version=None,
        ),
    }
    for site, fields in expected.items():
        got = sites.get(site, {})
        for key, value in fields.items():
            expect(
                got.get(key, "missing") == value,
                "%s: %s is %r, not %r" % (site, key, got.get(key, "missing"), value),
            )
    for site, path in archives.items():
        got = sites.get(site, {})
        expect(
            got.get("archive") == path,
            "%s: archive is %r, not %r" % (site, got.get("archive"), path),
        )
        expect(
            got.get("size") == os.path.getsize(path),
            "%s: size is %r, not %d" % (site, got.get("size"), os.path.getsize(path)),
        )
    failed_units = sites.get("site-b", {}).get("failed_units") or []
    expect(
        len(failed_units) == 1
        and failed_units[0]["address"] == "10.1.2.4"
        and failed_units[0]["reason"],
        "site-b: failed_units %s" % failed_units,
    )
    expect(
        sites.get("site-a", {}).get("failed_units") == [],
        "site-a: failed_units %s" % sites.get("site-a", {}).get("failed_units"),
    )
    expect(
        "found 4 of 5" in (sites.get("site-b", {}).get("reason") or ""),
        "site-b: reason %r" % sites.get("site-b", {}).get("reason"),
    )
    reason_c = sites.get("site-c", {}).get("reason") or ""
    expect("255" in reason_c and "10.1.9.9" in reason_c, "site-c: reason %r" % reason_c)
    reason_d = sites.get("site-d", {}).get("reason") or ""
    expect(reason_d.startswith("unreachable: "), "site-d: reason %r" % reason_d)

    # The table: a header and one row per site, in inventory order.
    rows = [
        r"SITE\s+STATUS\s+EXIT\s+OK\s+EMPTY\s+FAILED\s+SIZE\s+ARCHIVE",
        r"site-a\s+ok\s+0\s+3\s+0\s+0\s+[\d.]+ KiB\s+\S+/collected/site-a/KRTLogs_",
        r"site-b\s+partial\s+1\s+3\s+0\s+1\s+[\d.]+ KiB\s+\S+/collected/site-b/KRTLogs_",
        r"site-c\s+failed\s+255\s+-\s+-\s+-\s+-\s+-",
        r"site-d\s+failed\s+-\s+-\s+-\s+-\s+-\s+-",
        r"site-b: krtlogs: found 4 of 5 .*; krtlogs: KRT4 \(10\.1\.2\.4\)",
        r"2 of 4 sites failed",
    ]
    position = 0
    for pattern in rows:
        match = re.compile(pattern).search(output, position)
        if expect(match is not None, "the play's output lacks, in order: %s" % pattern):
            position = match.end()

    # Nothing left on the sites: every work folder that was made is empty.
    for site in ("site-a", "site-b", "site-c"):
        folder = os.path.join(root, site)
        if expect(os.path.isdir(folder), "%s: no work folder" % site):
            expect(
                os.listdir(folder) == [],
                "%s: left in its work folder: %s" % (site, os.listdir(folder)),
            )
    expect(not os.path.exists(os.path.join(root, "site-d")), "site-d: a work folder was made")

    for fault in faults:
        print("FAULT: " + fault)
    if not faults:
        print("archives, summary.json, the table and the work folders are as expected")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
