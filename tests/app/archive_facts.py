#!/usr/bin/env python3
"""Reads an archive the tool wrote, strictly, and prints what it holds as
one JSON object (ASCII only) on standard output:

  {"entries": [{"name": ..., "size": ..., "sha256": ...}, ...],
   "manifest": MANIFEST.json as read, or null,
   "lines": {"KRT1_log.jsonl": [[index, time, severity, level, code,
                                 who, what], ...], ...}}

Entries are listed in archive order, their size and SHA-256 computed from
the bytes read out of the archive. Each JSON lines file is read line by
line; who and what are given as the hex of the UTF-8 form of the strings
the JSON reader got, so that the caller can compare them byte for byte.

Exits 1 with the reason on standard error when the archive fails its CRC
checks, or the manifest or any line is not strict JSON: invalid UTF-8, a
duplicate member, NaN, a line without its line feed, another member set.
"""
import hashlib
import json
import sys
import zipfile

LINE_MEMBERS = ["index", "time", "severity", "level", "code", "who", "what"]
LINE_TYPES = [int, str, int, str, int, str, str]


class Refused(Exception):
    pass


class Members(list):
    """A JSON object as read: its members in order."""


def no_duplicates(pairs):
    seen = set()
    for key, _ in pairs:
        if key in seen:
            raise Refused("duplicate member %r" % key)
        seen.add(key)
    return Members(pairs)


def refuse_constant(name):
    raise Refused("%s is not JSON" % name)


def strict_loads(text):
    return json.loads(text, object_pairs_hook=no_duplicates,
                      parse_constant=refuse_constant)


def as_plain(value):
    """Turns the Members of strict_loads into dicts, keeping their order."""
    if isinstance(value, Members):
        return {k: as_plain(v) for k, v in value}
    if isinstance(value, list):
        return [as_plain(v) for v in value]
    return value


def utf8_hex(text):
    return text.encode("utf-8", "surrogatepass").hex()


def read_lines(name, data):
    text = data.decode("utf-8")  # raises on invalid UTF-8
    if text and not text.endswith("\n"):
        raise Refused("%s: the last line has no line feed" % name)
    rows = []
    for number, line in enumerate(text.split("\n")[:-1], 1):
        pairs = strict_loads(line)
        if (not isinstance(pairs, Members)
                or [k for k, _ in pairs] != LINE_MEMBERS):
            raise Refused("%s:%d: members are not %s" %
                          (name, number, LINE_MEMBERS))
        values = [v for _, v in pairs]
        for value, kind in zip(values, LINE_TYPES):
            if type(value) is not kind:
                raise Refused("%s:%d: %r is not %s" %
                              (name, number, value, kind.__name__))
        values[5] = utf8_hex(values[5])
        values[6] = utf8_hex(values[6])
        rows.append(values)
    return rows


def main():
    facts = {"entries": [], "manifest": None, "lines": {}}
    with zipfile.ZipFile(sys.argv[1]) as archive:
        bad = archive.testzip()
        if bad is not None:
            raise Refused("bad CRC in " + bad)
        for info in archive.infolist():
            data = archive.read(info)
            facts["entries"].append({
                "name": info.filename,
                "size": len(data),
                "sha256": hashlib.sha256(data).hexdigest(),
            })
            if info.filename == "MANIFEST.json":
                facts["manifest"] = as_plain(strict_loads(data.decode("utf-8")))
            elif info.filename.endswith(".jsonl"):
                facts["lines"][info.filename] = read_lines(info.filename, data)
    json.dump(facts, sys.stdout, ensure_ascii=True)


if __name__ == "__main__":
    try:
        main()
    except (Refused, ValueError, zipfile.BadZipFile) as e:
        sys.stderr.write("archive_facts: %s\n" % e)
        sys.exit(1)
