# The table the summary shows: one aligned row per site, then a note for
# every site that needs a look (why it failed or is partial, a run folder
# left on it), then the count of failed sites. The failed units' details
# are in summary.json; krtlogs' own reasons in the notes name them too.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

HEADER = ("SITE", "STATUS", "EXIT", "OK", "EMPTY", "FAILED", "SIZE", "ARCHIVE")
# Columns aligned to the right (numbers).
RIGHT = frozenset(("EXIT", "OK", "EMPTY", "FAILED", "SIZE"))
UNITS = ("B", "KiB", "MiB", "GiB", "TiB")
STEP = 1024.0


def size_text(size):
    """812 B, 12.3 KiB, 1.2 MiB, ..."""
    if size is None:
        return "-"
    value = float(size)
    unit = 0
    while value >= STEP and unit < len(UNITS) - 1:
        value /= STEP
        unit += 1
    if unit == 0:
        return "%d B" % size
    return "%.1f %s" % (value, UNITS[unit])


def cell(value):
    return "-" if value is None else str(value)


def row(site):
    return (
        cell(site.get("site")),
        cell(site.get("status")),
        cell(site.get("exit_status")),
        cell(site.get("units_collected")),
        cell(site.get("units_empty")),
        cell(site.get("units_failed")),
        size_text(site.get("size")),
        cell(site.get("archive")),
    )


def krtlogs_table(sites):
    """Lines of the table of sites (dicts as the role records them)."""
    rows = [HEADER] + [row(site) for site in sites]
    widths = [max(len(r[i]) for r in rows) for i in range(len(HEADER))]
    lines = []
    for r in rows:
        cells = []
        for name, text, width in zip(HEADER, r, widths):
            cells.append(text.rjust(width) if name in RIGHT else text.ljust(width))
        lines.append("  ".join(cells).rstrip())
    notes = []
    for site in sites:
        name = cell(site.get("site"))
        if site.get("status") != "ok" and site.get("reason"):
            notes.append("%s: %s" % (name, site["reason"]))
        if site.get("kept_folder"):
            notes.append("%s: run folder kept on the site: %s" % (name, site["kept_folder"]))
    if notes:
        lines.append("")
        lines.extend(notes)
    failed = sum(1 for site in sites if site.get("status") == "failed")
    lines.append("")
    lines.append("%d of %d sites failed" % (failed, len(sites)))
    return lines


class FilterModule(object):
    def filters(self):
        return {"krtlogs_table": krtlogs_table}
