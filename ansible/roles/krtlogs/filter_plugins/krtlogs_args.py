# What the role makes of its variables before any site is contacted:
# krtlogs_args as the list of arguments krtlogs gets, failed units named as
# krtlogs names them, and dpkg's failures told by their cause.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import shlex

from ansible.errors import AnsibleFilterError
from ansible.module_utils.six import string_types

WORKING_FORMS = (
    "write it as a list in the inventory or a vars file "
    '(krtlogs_args: ["-n", "20", "-j", "4"]), as JSON with -e '
    "('{\"krtlogs_args\": [\"-n\", \"20\", \"-j\", \"4\"]}') or as one quoted "
    "string with -e ('krtlogs_args=\"-n 20 -j 4\"')"
)
# What dpkg says when another dpkg or apt holds its lock.
LOCK_WORDS = ("dpkg frontend lock", "dpkg status database is locked", "Could not get lock")


def krtlogs_argv(args, stray=None):
    """krtlogs_args as a list of strings: a list as it is (numbers written
    as text), a string split as a shell splits it. `stray` is what
    ansible-playbook's -e key=value left over (_raw_params): the arguments
    a blank cut off, refused rather than lost."""
    if stray:
        whole = "%s %s" % (args, stray)
        raise AnsibleFilterError(
            "-e krtlogs_args=%s would lose %s: -e key=value ends a value at "
            "the first blank; write -e 'krtlogs_args=\"%s\"' or -e '%s'"
            % (args, stray, whole, json.dumps({"krtlogs_args": shlex.split(whole)}))
        )
    if isinstance(args, string_types):
        try:
            return shlex.split(args)
        except ValueError as e:
            raise AnsibleFilterError("krtlogs_args %r cannot be split: %s; %s" % (args, e, WORKING_FORMS))
    if isinstance(args, (list, tuple)):
        for arg in args:
            if not isinstance(arg, (string_types, int, float)) or isinstance(arg, bool):
                raise AnsibleFilterError(
                    "krtlogs_args holds %r, not an argument; %s" % (arg, WORKING_FORMS)
                )
        return [str(arg) for arg in args]
    raise AnsibleFilterError("krtlogs_args is %r, neither a list nor a string; %s" % (args, WORKING_FORMS))


def krtlogs_unit_names(units):
    """Failed units (as the manifest reader lists them) with their names as
    krtlogs prints them: "KRT7", not the manifest's "7"."""
    if units is None:
        return None
    named = []
    for unit in units:
        unit = dict(unit)
        name = unit.get("name")
        if name is not None and not str(name).startswith("KRT"):
            unit["name"] = "KRT%s" % name
        named.append(unit)
    return named


def _output(result):
    return "\n".join(
        str(result.get(key) or "") for key in ("msg", "stderr", "stdout")
    )


def krtlogs_lock_held(result):
    """Whether an install failed because the dpkg lock was held."""
    return bool(result.get("failed")) and any(w in _output(result) for w in LOCK_WORDS)


def krtlogs_install_error(result):
    """An install's failure in one line: the module's message and what dpkg
    said on standard error."""
    parts = [str(result.get("msg") or "failed")]
    parts.extend(line for line in str(result.get("stderr") or "").splitlines() if line.strip())
    return "; ".join(parts)


class FilterModule(object):
    def filters(self):
        return {
            "krtlogs_argv": krtlogs_argv,
            "krtlogs_unit_names": krtlogs_unit_names,
            "krtlogs_lock_held": krtlogs_lock_held,
            "krtlogs_install_error": krtlogs_install_error,
        }
