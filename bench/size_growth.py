#!/usr/bin/env python3
"""The 32-bit installer's size besides the payload against the size it had
when the size target was set, input by input from the link maps, and what
accounts for each input's growth.

bench/size_baseline.json holds the bytes each input of the link had then,
section by section (its commit, the size and the payload's size with it).
bench/size_features.txt names the features added on purpose since, each
with the inputs it grew and by how many bytes. The growth is accounted for
thus:

- an object compiled from this repository (or a toolchain object, or a
  library member the link had then too) grew by at most the bytes the
  table lists for it, with the features that grew it; bytes beyond are
  unexplained;
- a library member the link did not take then is accounted for when the
  link map says it was taken for an object whose growth is accounted for
  (directly, or through members new in the same way): the bytes are that
  object's features'; a member taken for anything else is unexplained,
  unless the table lists it itself;
- the base relocations (made by the linker for the code that holds
  addresses) and the headers, the alignment in the file, the resources'
  move to a page and the linker's fill follow from the rest: shown, not
  judged; the move alone can take up to a page less one byte, whatever
  grew.

The target is met when no byte is unexplained.

  size_growth.py check --map MAP --installer EXE --payload FILE

fails, naming the inputs, where the sealed installer of a build (and the
map of its link) has unexplained bytes: the windows build's tests run it.

  size_growth.py record --map MAP --installer EXE --payload FILE --commit REV > bench/size_baseline.json

writes the baseline from a link of that commit (bench/ builds the map as
installer.map). Python standard library only.
"""
import argparse
import json
import os
import sys

from image_facts import LINKER_INPUT, map_entries, map_included_by, map_inputs

HERE = os.path.dirname(os.path.abspath(__file__))
BASELINE = os.path.join(HERE, "size_baseline.json")
FEATURES = os.path.join(HERE, "size_features.txt")
RESOURCES = "LexomirUpdate.rc.res"  # the resources, the payload among them


def file_bytes(inputs, payload):
    """{input: {section: bytes}} with the payload taken out of the resources."""
    out = {k: dict(v) for k, v in inputs.items()}
    if RESOURCES in out and ".rsrc" in out[RESOURCES]:
        out[RESOURCES][".rsrc"] -= payload
    return out


def kind(name):
    if name == LINKER_INPUT:
        return "linker"
    if "(" in name:
        return "library"
    if name.endswith((".cpp", ".c", ".rc.res")):
        return "ours"
    return "toolchain"


def library_of(name):
    return name.split("(", 1)[0]


def load_features(path=FEATURES):
    """({input: (bytes, features)}, {old input name: new}) from the table:
    lines "INPUT BYTES FEATURES..." and "renamed OLD NEW"; # starts a comment."""
    listed, renamed = {}, {}
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            words = line.split(None, 2)
            if words[0] == "renamed" and len(words) == 3:
                renamed[words[1]] = words[2].strip()
            elif len(words) == 3 and words[1].isdigit():
                listed[words[0]] = (int(words[1]), words[2].strip())
            else:
                raise ValueError("%s:%d: neither INPUT BYTES FEATURES nor renamed OLD NEW" % (path, number))
    return listed, renamed


def load_baseline(path=BASELINE):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def growth(size, payload, inputs, included_by, baseline, listed, renamed):
    """Every input whose bytes changed, with what accounts for the change,
    and the totals; see the module's description for the rules."""
    before = {renamed.get(k, k): v for k, v in file_bytes(baseline["inputs"], baseline["payload"]).items()}
    after = file_bytes(inputs, payload)
    rows = {}
    for name in sorted(set(before) | set(after)):
        was, now = before.get(name, {}), after.get(name, {})
        change = {s: now.get(s, 0) - was.get(s, 0) for s in sorted(set(was) | set(now))}
        change = {s: d for s, d in change.items() if d}
        if not change:
            continue
        rows[name] = {"input": name, "kind": kind(name), "before": sum(was.values()), "after": sum(now.values()),
                      "sections": change, "change": sum(change.values()), "new": not was, "gone": not now,
                      "accounted": 0, "unexplained": 0, "why": ""}
    # The table's allowances first: what they leave unexplained decides the
    # members taken for those objects.
    for row in rows.values():
        if row["kind"] == "linker" or row["change"] <= 0 or (row["kind"] == "library" and row["new"]
                                                              and row["input"] not in listed):
            continue
        allowed, features = listed.get(row["input"], (0, ""))
        row["accounted"] = min(row["change"], allowed)
        row["unexplained"] = row["change"] - row["accounted"]
        row["why"] = features

    def root(name, seen=()):
        """The object a new member was taken for, through other new members;
        None when the chain reaches anything else."""
        includer = included_by.get(name, (None, None))[0]
        if includer is None or includer in seen:
            return None
        if kind(includer) == "library" and rows.get(includer, {}).get("new") and includer not in listed:
            return root(includer, seen + (name,))
        return includer

    for row in rows.values():
        if not (row["kind"] == "library" and row["new"] and row["input"] not in listed):
            continue
        # Taken for: the object at the chain's end, and whether directly, for which symbol.
        row["taken_for"] = root(row["input"])
        owner = rows.get(row["taken_for"])
        if owner and owner["input"] in listed and owner["unexplained"] == 0:
            row["accounted"] = row["change"]
            row["why"] = owner["why"]
        else:
            row["unexplained"] = row["change"]
        row["taken_by"], row["symbol"] = included_by.get(row["input"], (None, None))
    libraries = {}
    for side, inputs_then in (("before", before), ("after", after)):
        for name, sections in inputs_then.items():
            if kind(name) == "library":
                totals = libraries.setdefault(library_of(name), {"before": 0, "after": 0})
                totals[side] += sum(sections.values())
    base_rest = baseline["size"] - sum(sum(v.values()) for v in before.values())
    rest = size - sum(sum(v.values()) for v in after.values())
    relocations = rows.get(LINKER_INPUT, {}).get("change", 0)
    return {"commit": baseline["commit"], "base": baseline["size"], "size": size, "rows": list(rows.values()),
            "libraries": libraries,
            "accounted": sum(r["accounted"] for r in rows.values()),
            "unexplained": sum(r["unexplained"] for r in rows.values()),
            "shrunk": sum(r["change"] for r in rows.values() if r["change"] < 0 and r["kind"] != "linker"),
            "relocations": relocations, "layout": rest - base_rest}


def of_results(r):
    """The growth of the installer a results.json describes."""
    listed, renamed = load_features()
    return growth(r["size"]["installer"], r["payload"], r["inputs"], r["included_by"], load_baseline(), listed,
                  renamed)


def check(o):
    payload = os.path.getsize(o.payload)
    listed, renamed = load_features()
    g = growth(os.path.getsize(o.installer) - payload, payload, map_inputs(map_entries(o.map)),
               map_included_by(o.map), load_baseline(), listed, renamed)
    for row in g["rows"]:
        if row["unexplained"]:
            print("size: %s grew by %d bytes, %d of them with no line in bench/size_features.txt"
                  % (row["input"], row["change"], row["unexplained"]), file=sys.stderr)
    print("size: %d bytes besides the payload, %+d since %s: %d accounted for, %d unexplained"
          % (g["size"], g["size"] - g["base"], g["commit"], g["accounted"], g["unexplained"]))
    return 1 if g["unexplained"] else 0


def record(o):
    payload = os.path.getsize(o.payload)
    inputs = map_inputs(map_entries(o.map))
    lines = ['{', '"commit": %s,' % json.dumps(o.commit),
             '"what": "the 32-bit installer at that commit: its size besides the payload, the payload\'s size, '
             'and the bytes of each input of its link in each section that stands in the file",',
             '"size": %d,' % (os.path.getsize(o.installer) - payload), '"payload": %d,' % payload, '"inputs": {']
    names = sorted(inputs)
    for i, name in enumerate(names):
        lines.append("%s: %s%s" % (json.dumps(name), json.dumps(inputs[name], sort_keys=True),
                                   "," if i + 1 < len(names) else ""))
    lines += ["}", "}"]
    sys.stdout.write("\n".join(lines) + "\n")
    return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = ap.add_subparsers(dest="command", required=True)
    rec = sub.add_parser("record", help="write a baseline from a link map")
    rec.add_argument("--commit", required=True)
    chk = sub.add_parser("check", help="fail on bytes the features table does not account for")
    for name, what in (("--map", "the link map of the installer"), ("--installer", "the sealed installer"),
                       ("--payload", "the payload it carries")):
        for parser in (rec, chk):
            parser.add_argument(name, required=True, help=what)
    o = ap.parse_args()
    return check(o) if o.command == "check" else record(o)


if __name__ == "__main__":
    sys.exit(main())
