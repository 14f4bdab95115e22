"""What size_growth.py counts as accounted for and as unexplained.

  python3 -m unittest size_growth_test   (in bench/)
"""
import unittest

import size_growth

PAYLOAD = 1000
BASE_INPUTS = {
    "LexomirUpdate.rc.res": {".rsrc": PAYLOAD + 100},
    "a.cpp": {".text": 400, ".eh_frame": 100},
    "b.cpp": {".text": 300},
    "libstdc++.a(string-inst.o)": {".text": 200},
    "libkernel32.a(s1.o)": {".idata": 20},
    "dll stuff": {".reloc": 50},
}
# Besides the payload: the inputs' 1,170 bytes and 830 of headers and alignment.
BASE = {"commit": "base", "size": 2000, "payload": PAYLOAD, "inputs": BASE_INPUTS}


def grown(changes, listed, included_by=None, renamed=None, payload=PAYLOAD, layout=0):
    """The growth of a link whose inputs are the baseline's with CHANGES
    ({input: {section: bytes}}, None to drop one)."""
    inputs = {k: dict(v) for k, v in BASE_INPUTS.items()}
    inputs["LexomirUpdate.rc.res"][".rsrc"] += payload - PAYLOAD
    for name, sections in changes.items():
        if sections is None:
            del inputs[name]
        else:
            inputs.setdefault(name, {}).update(sections)
    size = BASE["size"] + sum(sum(v.values()) for v in inputs.values()) - payload \
        - sum(sum(v.values()) for v in BASE_INPUTS.values()) + PAYLOAD + layout
    return size_growth.growth(size, payload, inputs, included_by or {}, BASE, listed, renamed or {})


class Growth(unittest.TestCase):
    def test_accounting(self):
        taken = {"libgcc.a(div.o)": ("a.cpp", "__udivdi3"), "libgcc.a(rest.o)": ("libgcc.a(div.o)", "x"),
                 "libkernel32.a(s2.o)": ("b.cpp", "_imp__GetDC@4"), "libuuid.a(u.o)": ("crt2.o", "IID_X")}
        cases = [
            # (name, changes, listed (input: bytes), included_by, renamed, payload, unexplained, accounted)
            ("within the allowance", {"a.cpp": {".text": 500}}, {"a.cpp": 100}, {}, {}, PAYLOAD, 0, 100),
            ("beyond it", {"a.cpp": {".text": 550}}, {"a.cpp": 100}, {}, {}, PAYLOAD, 50, 100),
            ("not listed", {"b.cpp": {".text": 310}}, {}, {}, {}, PAYLOAD, 10, 0),
            ("a smaller object is no growth", {"b.cpp": {".text": 250}}, {}, {}, {}, PAYLOAD, 0, 0),
            ("resources, not the payload", {"LexomirUpdate.rc.res": {".rsrc": PAYLOAD * 3 + 130}},
             {"LexomirUpdate.rc.res": 30}, {}, {}, PAYLOAD * 3, 0, 30),
            ("a member taken for a listed object, through another",
             {"a.cpp": {".text": 500}, "libgcc.a(div.o)": {".text": 40}, "libgcc.a(rest.o)": {".text": 8}},
             {"a.cpp": 100}, taken, {}, PAYLOAD, 0, 148),
            ("a member taken for an object beyond its allowance",
             {"a.cpp": {".text": 501}, "libgcc.a(div.o)": {".text": 40}}, {"a.cpp": 100}, taken, {}, PAYLOAD, 41, 100),
            ("a member taken for an object not listed", {"libkernel32.a(s2.o)": {".idata": 22}}, {}, taken, {},
             PAYLOAD, 22, 0),
            ("a member taken for a toolchain object", {"libuuid.a(u.o)": {".rdata": 16}}, {}, taken, {}, PAYLOAD,
             16, 0),
            ("a member the table lists", {"libuuid.a(u.o)": {".rdata": 16}}, {"libuuid.a(u.o)": 16}, taken, {},
             PAYLOAD, 0, 16),
            ("a member that grew in place", {"libstdc++.a(string-inst.o)": {".text": 260}}, {}, {}, {}, PAYLOAD,
             60, 0),
            ("a renamed object", {"b.cpp": None, "c.cpp": {".text": 320}}, {"c.cpp": 20}, {}, {"b.cpp": "c.cpp"},
             PAYLOAD, 0, 20),
            ("a renamed object not said so", {"b.cpp": None, "c.cpp": {".text": 320}}, {"c.cpp": 20}, {}, {},
             PAYLOAD, 300, 20),
        ]
        for name, changes, allowed, included_by, renamed, payload, unexplained, accounted in cases:
            with self.subTest(name):
                listed = {k: (n, "feature") for k, n in allowed.items()}
                g = grown(changes, listed, included_by, renamed, payload, layout=-7)
                self.assertEqual((g["unexplained"], g["accounted"]), (unexplained, accounted), g["rows"])
                # Every byte of the size's change is in one of the totals.
                self.assertEqual(g["size"] - g["base"],
                                 g["accounted"] + g["unexplained"] + g["shrunk"] + g["relocations"] + g["layout"])
                self.assertEqual(g["layout"], -7)

    def test_relocations_follow_the_code(self):
        g = grown({"a.cpp": {".text": 500}, "dll stuff": {".reloc": 90}}, {"a.cpp": (100, "feature")})
        self.assertEqual((g["relocations"], g["unexplained"]), (40, 0))


if __name__ == "__main__":
    unittest.main()
