"""The completion script's own functions, in a plain interpreter, with jedi and without it."""

import importlib
import os
import subprocess
import sys
import types
import unittest
from unittest import mock

HERE = os.environ.get("COILHATCH_AUTOCOMP_DIR") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "python", "autocomplete"
)
sys.path.insert(0, HERE)

import autocomp  # noqa: E402
import autocomp_core  # noqa: E402


def long_document(lines):
    text = ["import os"]
    i = 0
    while len(text) < lines - 1:
        text += [
            "class Thing%d(object):" % i,
            "    '''Docs with (brackets and # hashes'''",
            "    def method_%d(self, value, count=3):" % i,
            "        return os.path.join(str(value), '(%%d)' %% count)  # note (",
            "",
        ]
        i += 1
    return "\n".join(text[: lines - 1] + ["os.pa"])


class Cases:
    """Cases that hold with jedi and without it; the subclasses pick."""

    def complete(self, text, line=None, column=None):
        lines = autocomp.split_lines(text)
        if line is None:
            line = len(lines)
        if column is None:
            column = len(lines[line - 1])
        return autocomp.completions(text, line, column)

    def test_module_attribute(self):
        prefix, items, _ = self.complete("import os\nos.pa")
        self.assertEqual(prefix, 2)
        self.assertIn("path", items)
        self.assertNotIn("getcwd", items)

    def test_module_name_after_import(self):
        prefix, items, _ = self.complete("import o")
        self.assertEqual(prefix, 1)
        self.assertIn("os", items)

    def test_call_tip_inside_call(self):
        prefix, _, tip = self.complete("print(")
        self.assertEqual(prefix, 0)
        self.assertTrue(tip and tip.startswith("print("), tip)

    def test_syntax_error_elsewhere(self):
        _, items, _ = self.complete("def broken(:\n    pass\nimport os\nos.pa")
        self.assertIn("path", items)

    def test_empty_document(self):
        prefix, items, tip = self.complete("")
        self.assertEqual(prefix, 0)
        self.assertIn("print", items)
        self.assertIsNone(tip)

    def test_comment_and_string(self):
        self.assertEqual(self.complete("# os.pa"), (0, [], None))
        self.assertEqual(self.complete("x = 'os.pa")[1], [])
        self.assertEqual(self.complete('s = """doc\nos.pa')[1], [])

    def test_long_document(self):
        prefix, items, _ = self.complete(long_document(5000))
        self.assertEqual(prefix, 2)
        self.assertIn("path", items)

    def test_windows_line_ends(self):
        _, items, _ = self.complete("import os\r\nx = 1\r\nos.pa")
        self.assertIn("path", items)

    def test_caret_out_of_range_is_clamped(self):
        self.complete("import os\nos.pa", line=40, column=99)
        self.complete("import os\nos.pa", line=0, column=-3)

    def test_items_sorted_for_a_case_insensitive_list(self):
        _, items, _ = self.complete("import os\nos.")
        self.assertEqual(items, sorted(set(items), key=lambda n: (n.upper(), n)))
        self.assertFalse(any(" " in item for item in items))


class WithJedi(Cases, unittest.TestCase):
    def setUp(self):
        if autocomp_core._load_jedi() is None:
            self.skipTest("jedi is not installed")


class WithoutJedi(Cases, unittest.TestCase):
    def setUp(self):
        patcher = mock.patch.dict(sys.modules, {"jedi": None})
        patcher.start()
        self.addCleanup(patcher.stop)

    def test_own_function_call_tip(self):
        _, _, tip = self.complete("def scale(value, factor=2):\n    pass\nscale(1, ")
        self.assertEqual(tip, "scale(value, factor=2)")

    def test_document_names_and_no_imports(self):
        text = "import not_loaded_module_xyz\ncounter_value = 1\nnot_loaded_module_xyz.fo\ncou"
        _, items, _ = self.complete(text)
        self.assertIn("counter_value", items)
        # The word being typed is not offered back to itself.
        self.assertNotIn("cou", items)
        self.complete(text, line=3)
        self.assertNotIn("not_loaded_module_xyz", sys.modules)

    def test_alias_and_from_import(self):
        self.assertIn("path", self.complete("import os as system\nsystem.pa")[1])
        self.assertIn("path", self.complete("from os import pa")[1])
        self.assertEqual(self.complete("import os.pa")[1], ["path"])


class FaultyJedi(unittest.TestCase):
    def test_a_failing_jedi_falls_back(self):
        broken = types.ModuleType("jedi")

        def fail(*args, **kwargs):
            raise RecursionError("deep")

        broken.Script = fail
        broken.InterpreterEnvironment = fail
        with mock.patch.dict(sys.modules, {"jedi": broken}):
            _, items, _ = autocomp.completions("import os\nos.pa", 2, 5)
        self.assertIn("path", items)


class FakeEditor:
    """The part of wx.stc.StyledTextCtrl the script uses: positions are UTF-8 byte offsets."""

    def __init__(self, text, caret_chars=None):
        self.text = text
        chars = len(text) if caret_chars is None else caret_chars
        self.caret = len(text[:chars].encode("utf-8"))
        self.calls = []

    def _bytes(self):
        return self.text.encode("utf-8")

    def GetText(self):
        return self.text

    def GetCurrentPos(self):
        return self.caret

    def LineFromPosition(self, pos):
        return self._bytes()[:pos].count(b"\n")

    def PositionFromLine(self, line):
        data, pos = self._bytes(), 0
        for _ in range(line):
            pos = data.index(b"\n", pos) + 1
        return pos

    def GetTextRange(self, start, end):
        return self._bytes()[start:end].decode("utf-8")

    def __getattr__(self, name):
        if name.startswith(("AutoComp", "CallTip")):
            return lambda *args: self.calls.append((name,) + args)
        raise AttributeError(name)


class EditorSide(unittest.TestCase):
    def run_main(self, editor):
        api = types.ModuleType("MpAPI")
        management = types.SimpleNamespace(GetCurrentEditor=lambda: editor)
        api.CEditorManagement_Get = lambda: management
        with mock.patch.dict(sys.modules, {"MpAPI": api, "jedi": None}):
            autocomp.MpMain()

    def shown(self, editor, name):
        return [call for call in editor.calls if call[0] == name]

    def test_list_counts_the_typed_part_in_bytes(self):
        editor = FakeEditor("\u00f1ame_long = 1\n\u00f1am")
        self.run_main(editor)
        (show,) = self.shown(editor, "AutoCompShow")
        self.assertEqual(show[1], len("\u00f1am".encode("utf-8")))
        self.assertIn("\u00f1ame_long", show[2].split(" "))
        self.assertIn(("AutoCompSetSeparator", ord(" ")), editor.calls)

    def test_call_tip_instead_of_a_list_when_nothing_is_typed(self):
        editor = FakeEditor("print(")
        self.run_main(editor)
        self.assertEqual(self.shown(editor, "AutoCompShow"), [])
        (tip,) = self.shown(editor, "CallTipShow")
        self.assertEqual(tip[1], editor.caret)
        self.assertTrue(tip[2].startswith("print("))

    def test_caret_in_the_middle_of_a_line(self):
        editor = FakeEditor("import os\nos.pa + 1\n", caret_chars=len("import os\nos.pa"))
        self.run_main(editor)
        (show,) = self.shown(editor, "AutoCompShow")
        self.assertEqual(show[1], 2)
        self.assertIn("path", show[2].split(" "))

    def test_nothing_to_show(self):
        editor = FakeEditor("# a comment")
        self.run_main(editor)
        self.assertEqual(self.shown(editor, "AutoCompShow") + self.shown(editor, "CallTipShow"), [])

    def test_no_editor(self):
        self.run_main(None)


class Loading(unittest.TestCase):
    def test_top_level_only_imports(self):
        # The module is reloaded on every request: loading it must not pull in jedi or MpAPI.
        code = "import sys, autocomp; print('jedi' in sys.modules, 'MpAPI' in sys.modules)"
        out = subprocess.run(
            [sys.executable, "-c", code], cwd=HERE, capture_output=True, text=True, check=True
        ).stdout
        self.assertEqual(out.split(), ["False", "False"])

    def test_reload_keeps_working(self):
        module = importlib.reload(autocomp)
        self.assertIn("path", module.completions("import os\nos.pa", 2, 5)[1])


if __name__ == "__main__":
    unittest.main()
