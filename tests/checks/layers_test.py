#!/usr/bin/env python3
"""The layer check on small trees of its own: an include above a folder's
layers, a folder in no layer, a header a target reaches without linking its
library, and libraries linked in a cycle."""

import os
import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import layers  # noqa: E402


class LayerCheck(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.tmp.name)
        self.saved = layers.LAYERS
        layers.LAYERS = {"low": set(), "mid": {"low"}, "top": {"mid"}}
        layers._READ.clear()

    def tearDown(self):
        layers.LAYERS = self.saved
        self.tmp.cleanup()

    def put(self, rel, text=""):
        path = self.root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)

    def graph(self, lines):
        self.put("build-x/link_graph.txt", "".join("\t".join(l) + "\n" for l in lines))
        return layers.Graph("test", self.root / "build-x/link_graph.txt", self.root.resolve())

    def test_includes_stay_beneath_their_folder(self):
        self.put("low/a.h")
        self.put("mid/b.h", '#include "low/a.h"\n#include "b2.h"\n')
        self.put("top/c.cpp", '#include "low/a.h"\n')  # beneath through mid
        self.put("low/bad.cpp", '#include <cstdio>\n#include "mid/b.h"\n')
        self.put("stray/d.cpp")
        self.put("build-x/generated.cpp", '#include "top/c.h"\n')
        faults = layers.check_layers(self.root.resolve())
        self.assertEqual(faults, ["low/bad.cpp:2: includes mid/b.h; low/ may include nothing outside itself",
                                  "stray/d.cpp: its folder stray/ is in no layer; add it to LAYERS"])

    def test_a_target_includes_only_what_it_links_or_is_handed(self):
        self.put("low/a.h")
        self.put("low/a.cpp", '#include "low/a.h"\n')
        self.put("mid/b.h", '#include "low/a.h"\n')
        self.put("mid/b.cpp", '#include "mid/b.h"\n')
        self.put("top/c.cpp", '#include "mid/b.h"\n')
        self.put("top/d.cpp", '#include "mid/b.h"\n')
        root = str(self.root.resolve())
        g = self.graph([("target", "low", "STATIC_LIBRARY"), ("source", "low", root + "/low/a.cpp"),
                        ("target", "mid", "STATIC_LIBRARY"), ("source", "mid", root + "/mid/b.cpp"),
                        ("link", "mid", "low"), ("interface", "mid", "$<LINK_ONLY:low>"),
                        ("target", "c", "EXECUTABLE"), ("source", "c", root + "/top/c.cpp"), ("link", "c", "mid"),
                        ("target", "d", "EXECUTABLE"), ("source", "d", root + "/top/d.cpp")])
        faults = layers.check_links(self.root.resolve(), g)
        # c reaches low/a.h through mid/b.h, but mid keeps low to itself; d links nothing.
        self.assertEqual(faults, [
            "mid/b.h:1: includes low/a.h, but c (test build) links no library of low/ (low)",
            "top/d.cpp:1: includes mid/b.h, but d (test build) links no library of mid/ (mid)",
            "mid/b.h:1: includes low/a.h, but d (test build) links no library of low/ (low)"])
        g.hands_on["mid"] = {"low"}
        g.links["d"] = {"mid"}
        self.assertEqual(layers.check_links(self.root.resolve(), g), [])

    def test_cycles_are_named(self):
        self.assertEqual(layers.cycle({"a": {"b"}, "b": {"c"}, "c": {"a"}}), ["a", "b", "c", "a"])
        self.assertIsNone(layers.cycle({"a": {"b", "c"}, "b": {"c"}, "c": set()}))
        self.assertIsNone(layers.cycle(self.saved))


if __name__ == "__main__":
    unittest.main()
