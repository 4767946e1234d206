#!/usr/bin/env python3
"""Checks what one case of ansible/test/run.sh left:

    check_collected.py CASE TEST_ROOT VERSION "SITE=STATUS ..." [SECONDS_LEFT]

the run's summary-<stamp>.json and summary.json in TEST_ROOT/home/krt-logs
(the sites and statuses expected, in inventory order), the fetched
archives (three zip readers, their SHA256SUMS, every log complete), the
table in the play's output (TEST_ROOT/CASE.out) and the sites' empty work
folders; SECONDS_LEFT, when given, must not be negative. A case with no
sites expected must have been refused before any site was contacted. The
summaries seen so far are kept in TEST_ROOT/seen.json. Prints one line per
fault and exits 1 when there is any.
"""

import hashlib
import json
import os
import glob
import re
import subprocess
import sys
import zipfile

faults = []


def expect(condition, message):
    if not condition:
        faults.append(message)
    return condition


def check_archive(site, path, count, entries):
    """The archive opens in every reader and holds `count` logs of
    `entries` entries each, all of them in its SHA256SUMS and described by
    its MANIFEST.json."""
    for reader in (["unzip", "-tq", path], ["7z", "t", path]):
        run = subprocess.run(reader, capture_output=True, text=True)
        expect(
            run.returncode == 0,
            "%s: %s fails on %s: %s" % (site, reader[0], path, run.stdout + run.stderr),
        )
    with zipfile.ZipFile(path) as archive:
        expect(archive.testzip() is None, "%s: zipfile finds a bad entry in %s" % (site, path))
        manifest = json.loads(archive.read("MANIFEST.json"))
        described = dict((unit["file"], unit) for unit in manifest["units"] if unit["file"])
        names = sorted(archive.namelist())
        expect(
            len(described) == count
            and names == sorted(list(described) + ["MANIFEST.json", "SHA256SUMS"]),
            "%s: the archive holds %s" % (site, names),
        )
        sums = {}
        for line in archive.read("SHA256SUMS").decode().splitlines():
            digest, name = line.split("  ", 1)
            sums[name] = digest
        expect(sorted(sums) == sorted(described), "%s: SHA256SUMS names %s" % (site, sorted(sums)))
        for log, unit in described.items():
            data = archive.read(log) if log in names else b""
            expect(
                hashlib.sha256(data).hexdigest() == sums.get(log),
                "%s: %s does not match SHA256SUMS" % (site, log),
            )
            expect(
                unit.get("entries") == entries and unit.get("bytes") == len(data),
                "%s: MANIFEST.json describes %s as %s" % (site, log, unit),
            )


# What each case collects on a site: units, logs and entries per log.
# -since collects the units' 200 entries once, then nothing new: the units
# are empty, the archive holds no log.
COLLECTED = {
    "string": (20, 20, 200),
    "since1": (20, 20, 200),
    "since2": (20, 0, 0),
    "cut": (3, 3, 200),
}
DEFAULT_UNITS = {"plant-north": 3, "plant-south": 23}


def main():
    case, root, version, expected = sys.argv[1:5]
    left = sys.argv[5] if len(sys.argv) > 5 else ""
    expected = [pair.split("=") for pair in expected.split()]
    folder = os.path.join(root, "home", "krt-logs")
    with open(os.path.join(root, case + ".out")) as f:
        output = f.read()
    seen_path = os.path.join(root, "seen.json")
    seen = json.load(open(seen_path)) if os.path.exists(seen_path) else []
    runs = sorted(os.path.basename(p) for p in glob.glob(os.path.join(folder, "summary-*.json")))
    new = [name for name in runs if name not in seen]
    json.dump(runs, open(seen_path, "w"))

    if not expected:
        # Refused: no site contacted, nothing written, the way shown.
        expect(new == [], "%s: wrote %s" % (case, new))
        shown = output.replace('\\"', '"')
        expect(
            """-e 'krtlogs_args="-n 20 -j 4"'""" in shown
            and """-e '{"krtlogs_args": ["-n", "20", "-j", "4"]}'""" in shown,
            "%s: the working forms are not shown" % case,
        )
        expect("ok=" not in output.replace("ok=0", ""), "%s: a site was contacted" % case)
        return report()
    if not expect(len(new) == 1, "%s: new summaries %s" % (case, new)):
        return report()
    with open(os.path.join(folder, new[0])) as f:
        summary = json.load(f)
    with open(os.path.join(folder, "summary.json")) as f:
        expect(json.load(f) == summary, "%s: summary.json is not %s" % (case, new[0]))
    expect(summary["file"] == new[0], "%s: summary names %s" % (case, summary["file"]))
    sites = summary["sites"]
    expect(
        [(s["site"], s["status"]) for s in sites] == [tuple(e) for e in expected],
        "%s: sites %s" % (case, [(s["site"], s["status"], s["reason"]) for s in sites]),
    )
    for site in sites:
        name = site["site"]
        for unit in site["failed_units"] or []:
            expect(re.fullmatch(r"KRT\d+", unit["name"] or ""), "%s: %s names %s" % (case, name, unit))
        if site["status"] == "failed":
            expect(site["archive"] is None and site["reason"], "%s: %s failed as %s" % (case, name, site))
            continue
        expect(site["version"] == "krtlogs " + version, "%s: %s has %s" % (case, name, site["version"]))
        path = site["archive"] or ""
        if not expect(
            re.fullmatch(r"KRTLogs_\d{8}-\d{6}Z(-\d+)?\.zip", os.path.basename(path))
            and os.path.dirname(path) == os.path.join(folder, name),
            "%s: %s archive %s" % (case, name, path),
        ):
            continue
        units, logs, entries = COLLECTED.get(case, (DEFAULT_UNITS[name],) * 2 + (200,))
        check_archive(name, path, logs, entries)
        expect(site["units_collected"] + site["units_empty"] == units, "%s: %s" % (case, site))
        folder_left = os.path.join(root, name, "work")
        expect(
            [f for f in os.listdir(folder_left) if f.startswith("run-")] == [],
            "%s: %s kept %s" % (case, name, os.listdir(folder_left)),
        )
    south = dict((s["site"], s) for s in sites).get("plant-south", {})
    if south.get("status") == "partial":
        expect(
            [(u["name"], u["address"]) for u in south["failed_units"]] == [("KRT9", "10.1.2.9")],
            "%s: plant-south failed_units %s" % (case, south["failed_units"]),
        )
    for site in sites:
        if site["status"] == "failed":
            expect(
                (site["reason"] or "").startswith("unreachable: "),
                "%s: %s reason %r" % (case, site["site"], site["reason"]),
            )
    if left:
        expect(int(left) >= 0, "%s: the play ended %s s past its bound" % (case, -int(left)))

    # The table: a row per site, then how many failed.
    failed = sum(1 for s in sites if s["status"] == "failed")
    for pattern in [r"\b%s\s+%s\b" % (s["site"], s["status"]) for s in sites] + [
        r"%d of %d sites failed" % (failed, len(sites))
    ]:
        expect(re.search(pattern, output), "%s: the table lacks %s" % (case, pattern))
    return report()


def report():
    for fault in faults:
        print("FAULT: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
