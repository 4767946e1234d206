#!/usr/bin/python
# Reads what a krtlogs archive says about itself: the units of its
# MANIFEST.json by status, and the failed ones with their reasons. The role
# runs it on the controller against the fetched copy.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: krtlogs_manifest
short_description: Read the manifest of a krtlogs archive
description:
  - Opens a zip archive written by C(krtlogs -manifest) and reads its
    C(MANIFEST.json).
  - Counts the units by status (C(ok), C(empty), C(failed)) and lists the
    failed ones with their reasons.
  - An archive without C(MANIFEST.json) is no error; the counts are then
    unknown (C(manifest) false).
options:
  path:
    description: The archive.
    type: path
    required: true
"""

RETURN = r"""
size:
  description: Size of the archive in bytes.
  type: int
manifest:
  description: Whether the archive holds MANIFEST.json.
  type: bool
counts:
  description: Units by status, C(ok), C(empty) and C(failed); null without a manifest.
  type: dict
failed_units:
  description: Name, address and reason of each failed unit; null without a manifest.
  type: list
"""

import json
import os
import zipfile

from ansible.module_utils.basic import AnsibleModule

MANIFEST_NAME = "MANIFEST.json"
STATUSES = ("ok", "empty", "failed")


def read_manifest(path):
    """Returns the parsed MANIFEST.json of the archive at path, or None when
    the archive has none. Raises ValueError with the reason when the archive
    or its manifest cannot be read."""
    try:
        with zipfile.ZipFile(path) as archive:
            try:
                raw = archive.read(MANIFEST_NAME)
            except KeyError:
                return None
    except (OSError, zipfile.BadZipFile, RuntimeError) as e:
        raise ValueError("cannot read the archive %s: %s" % (path, e))
    try:
        manifest = json.loads(raw.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as e:
        raise ValueError("%s in %s is not JSON: %s" % (MANIFEST_NAME, path, e))
    if not isinstance(manifest, dict) or not isinstance(manifest.get("units"), list):
        raise ValueError("%s in %s has no list of units" % (MANIFEST_NAME, path))
    return manifest


def summarise(manifest):
    """Counts the manifest's units by status and lists the failed ones."""
    counts = dict((status, 0) for status in STATUSES)
    failed = []
    for unit in manifest["units"]:
        status = unit.get("status") if isinstance(unit, dict) else None
        if status not in counts:
            raise ValueError("%s names a unit with status %r" % (MANIFEST_NAME, status))
        counts[status] += 1
        if status == "failed":
            failed.append(
                {
                    "name": unit.get("name"),
                    "address": unit.get("address"),
                    "reason": unit.get("reason"),
                }
            )
    return counts, failed


def main():
    module = AnsibleModule(
        argument_spec=dict(path=dict(type="path", required=True)),
        supports_check_mode=True,
    )
    path = module.params["path"]
    try:
        size = os.path.getsize(path)
        manifest = read_manifest(path)
        if manifest is None:
            module.exit_json(
                changed=False, size=size, manifest=False, counts=None, failed_units=None
            )
        counts, failed = summarise(manifest)
    except (OSError, ValueError) as e:
        module.fail_json(msg=str(e))
    module.exit_json(changed=False, size=size, manifest=True, counts=counts, failed_units=failed)


if __name__ == "__main__":
    main()
