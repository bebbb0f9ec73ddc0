#!/usr/bin/env python3
"""The size check's function scan on the shapes of code it must read."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sizes  # noqa: E402


def names(text):
    return [(name, first, last) for name, first, last in sizes.functions(text)]


class FunctionScan(unittest.TestCase):
    def test_signatures_over_several_lines_start_at_the_name(self):
        text = ("static bool\n"
                "Long(int a,\n"
                "     int b) {\n"
                "    if (a) { return b; }\n"
                "    return a;\n"
                "}\n")
        self.assertEqual(names(text), [("Long", 2, 6)])

    def test_members_initialisers_qualifiers_and_classes(self):
        text = ("namespace n {\n"
                "class C : public B {\n"
                "public:\n"
                "    C(int x) : a_{x}, b_(x) {\n"
                "        Go();\n"
                "    }\n"
                "    int Get() const override { return a_; }\n"
                "    bool operator()(int y) const noexcept { return y; }\n"
                "};\n"
                "int C::Twice(int v) -> int {\n"
                "    return v * 2;\n"
                "}\n"
                "}  // namespace n\n")
        self.assertEqual(names(text), [("C", 4, 6), ("Get", 7, 7), ("operator()", 8, 8), ("C::Twice", 10, 12)])

    def test_braces_in_literals_comments_and_initialisers_are_passed_over(self):
        text = ('const char* kText = "{ not a body";\n'
                "// void Commented() {\n"
                "const Row kRows[] = { {1, F(2)}, {3, F(4)} };\n"
                'auto kRaw = R"x(int Fake() { )x";\n'
                "auto kLambda = [](int v) { return v; };\n"
                "#define BODY() {\n"
                "BEGIN_MESSAGE_MAP(CDlg, CDialog)\n"
                "END_MESSAGE_MAP()\n"
                "void CDlg::OnOK() {\n"
                "    char c = '{';\n"
                "    for (int i = 0; i < 2; ++i) { c++; }\n"
                "}\n")
        self.assertEqual(names(text), [("CDlg::OnOK", 9, 12)])

    def test_extern_c_bodies_are_read_as_a_namespace(self):
        text = ('extern "C" {\n'
                "int LLVMFuzzerTestOneInput(const unsigned char* d, unsigned long n) {\n"
                "    return 0;\n"
                "}\n"
                "}\n")
        self.assertEqual(names(text), [("LLVMFuzzerTestOneInput", 2, 4)])


class Limits(unittest.TestCase):
    def test_tolerated_offenders_warn_and_others_fail(self):
        import tempfile
        import pathlib
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            (root / "engine").mkdir()
            body = "".join("    x();\n" for _ in range(sizes.MAX_FUNCTION_LINES))
            (root / "engine" / "a.cpp").write_text("void Known() {\n" + body + "}\nvoid New() {\n" + body + "}\n")
            (root / "tests").mkdir()
            (root / "tests" / "t.cpp").write_text("void InTests() {\n" + body + "}\n")
            saved = sizes.TOLERATED
            sizes.TOLERATED = {("engine/a.cpp", "Known"), ("engine/gone.cpp", None)}
            try:
                faults, warnings = sizes.check(root)
            finally:
                sizes.TOLERATED = saved
        self.assertEqual(faults, ["engine/a.cpp:%d: New is %d lines (at most %d)" % (
            sizes.MAX_FUNCTION_LINES + 3, sizes.MAX_FUNCTION_LINES + 2, sizes.MAX_FUNCTION_LINES)])
        self.assertTrue(any("Known" in w for w in warnings))
        self.assertTrue(any("engine/gone.cpp" in w and "leave the list" in w for w in warnings))


if __name__ == "__main__":
    unittest.main()
