"""The completion script's own functions, in a plain interpreter, with jedi and without it."""

import _thread
import importlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
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

    def test_attributes_after_a_dot_inside_a_call(self):
        prefix, items, _ = self.complete("import os\nprint(os.")
        self.assertEqual(prefix, 0)
        self.assertIn("path", items)

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


class FakeJedi(types.ModuleType):
    """A jedi that records what it is asked: ("Script", code, path), ("complete", line,
    column) and ("signatures", line, column). Its completions all complete `typed`."""

    def __init__(self, names=("path",), typed="", signature=None):
        super().__init__("jedi")
        self.calls = []
        self.InterpreterEnvironment = lambda: None
        fake = self

        class Completion:
            def __init__(self, name):
                self.name = name

            def get_completion_prefix_length(self):
                return len(typed)

        class Signature:
            def to_string(self):
                return signature

        class Script:
            def __init__(self, code=None, path=None, environment=None):
                fake.calls.append(("Script", code, path))

            def complete(self, line, column):
                fake.calls.append(("complete", line, column))
                return [Completion(name) for name in names]

            def get_signatures(self, line, column):
                fake.calls.append(("signatures", line, column))
                return [Signature()] if signature else []

        self.Script = Script

    def asked(self):
        return [call[0] for call in self.calls]


class OnlyWhatIsShown(unittest.TestCase):
    """jedi is asked only for what the editor will show: the list, or the call tip that takes
    its place when nothing of a word is typed inside a call."""

    def complete(self, jedi, text):
        lines = autocomp.split_lines(text)
        with mock.patch.dict(sys.modules, {"jedi": jedi}):
            return autocomp.completions(text, len(lines), len(lines[-1]))

    def test_a_typed_word_with_matches_asks_for_no_signatures(self):
        jedi = FakeJedi(names=("pardir", "path"), typed="pa", signature="f(x)")
        self.assertEqual(self.complete(jedi, "f(os.pa"), (2, ["pardir", "path"], None))
        self.assertEqual(jedi.asked(), ["Script", "complete"])

    def test_inside_a_call_with_nothing_typed_the_tip_alone_is_worked_out(self):
        jedi = FakeJedi(names=("print",), signature="print(value)")
        self.assertEqual(self.complete(jedi, "x = 1\nprint("), (0, [], "print(value)"))
        self.assertEqual(jedi.asked(), ["Script", "signatures"])
        self.assertEqual(jedi.calls[1], ("signatures", 2, 6))

    def test_outside_a_call_the_list(self):
        jedi = FakeJedi(names=("print", "pow"))
        self.assertEqual(self.complete(jedi, "x = 1\n"), (0, ["pow", "print"], None))
        self.assertEqual(jedi.asked(), ["Script", "signatures", "complete"])

    def test_a_typed_word_without_matches_gives_the_tip(self):
        jedi = FakeJedi(names=(), signature="scale(value)")
        self.assertEqual(self.complete(jedi, "scale(zz"), (2, [], "scale(value)"))
        self.assertEqual(jedi.asked(), ["Script", "complete", "signatures"])

    def test_the_text_goes_to_jedi_once_and_whole(self):
        jedi = FakeJedi()
        text = "import os\r\nos.pa"
        self.complete(jedi, text)
        self.assertEqual([call for call in jedi.calls if call[0] == "Script"],
                         [("Script", text, None)])


class SteppedEvent:
    """A warm-up's end that comes at the given wait; each wait's timeout is recorded."""

    def __init__(self, ends_at=None, on_wait=None):
        self.ends_at = ends_at
        self.on_wait = on_wait
        self.waits = []

    def wait(self, timeout=None):
        self.waits.append(timeout)
        if self.on_wait:
            self.on_wait(len(self.waits))
        return self.is_set()

    def is_set(self):
        return self.ends_at is not None and len(self.waits) >= self.ends_at


class WarmUp(unittest.TestCase):
    def setUp(self):
        patcher = mock.patch.object(autocomp_core, "_warm_up_done", None)
        patcher.start()
        self.addCleanup(patcher.stop)

    def wait_for_the_warm_up(self):
        deadline = time.monotonic() + 60
        while not autocomp_core.warm_up_ended():
            self.assertLess(time.monotonic(), deadline, "the warm-up did not end")
            time.sleep(0.01)

    def test_a_request_waits_in_slices_then_uses_jedi(self):
        autocomp_core._warm_up_done = SteppedEvent(ends_at=3)
        jedi = FakeJedi(names=("path",), typed="pa")
        with mock.patch.dict(sys.modules, {"jedi": jedi}):
            self.assertEqual(autocomp.completions("os.pa", 1, 5), (2, ["path"], None))
        self.assertEqual(autocomp_core._warm_up_done.waits, [0.05] * 3)
        self.assertIn("complete", jedi.asked())

    def test_a_warm_up_that_does_not_end_is_waited_for_a_while_only(self):
        autocomp_core._warm_up_done = SteppedEvent()
        jedi = FakeJedi(names=("not_from_the_fallback",))
        with mock.patch.object(autocomp_core, "WARM_UP_WAIT", 0.2):
            with mock.patch.dict(sys.modules, {"jedi": jedi}):
                _, items, _ = autocomp.completions("import os\nos.pa", 2, 5)
        # Answered without jedi, which the warm-up's thread may still be using.
        self.assertEqual(jedi.calls, [])
        self.assertIn("path", items)

    def test_a_stop_while_waiting_reaches_the_request(self):
        # The editor stops a request with a pending call that raises KeyboardInterrupt; it runs
        # between two slices of the wait, and nothing turns it into an answer.
        def interrupt(count):
            if count == 2:
                _thread.interrupt_main()

        autocomp_core._warm_up_done = SteppedEvent(on_wait=interrupt)
        with self.assertRaises(KeyboardInterrupt):
            autocomp.completions("import os\nos.pa", 2, 5)
            self.fail("not stopped")  # reached only if the interrupt came too late

    def test_warms_jedi_and_the_current_document_in_a_thread_once(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        document = os.path.join(folder, "tool.py")
        with open(document, "w", newline="") as f:
            f.write("import os\r\nvalue = os.sep\r\n")
        jedi = FakeJedi()
        with mock.patch.dict(sys.modules, {"jedi": jedi}):
            autocomp_core.start_warm_up(document)
            self.wait_for_the_warm_up()
            autocomp_core.start_warm_up(document)
            self.wait_for_the_warm_up()
        scripts = [call for call in jedi.calls if call[0] == "Script"]
        # Small texts of its own first (a list, call tips), then the document; the second start
        # did nothing.
        self.assertEqual([call[2] for call in scripts], [None, None, document], jedi.calls)
        self.assertEqual(scripts[-1][1], "import os\r\nvalue = os.sep\r\n")
        # The document's completion at its last line, which its line ends decide.
        self.assertEqual(jedi.calls[-1], ("complete", 3, 0))

    def test_only_python_files_are_warmed(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        notes = os.path.join(folder, "notes.txt")
        with open(notes, "w") as f:
            f.write("import os\n")
        for path in (notes, os.path.join(folder, "missing.py"), None, ""):
            with self.subTest(path=path):
                autocomp_core._warm_up_done = None
                jedi = FakeJedi()
                with mock.patch.dict(sys.modules, {"jedi": jedi}):
                    autocomp_core.start_warm_up(path)
                    self.wait_for_the_warm_up()
                documents = [c for c in jedi.calls if c[0] == "Script" and c[2] is not None]
                self.assertEqual(documents, [])

    def test_a_warm_up_without_jedi_ends_and_requests_fall_back(self):
        with mock.patch.dict(sys.modules, {"jedi": None}):
            autocomp_core.start_warm_up(None)
            self.wait_for_the_warm_up()
            self.assertIn("path", autocomp.completions("import os\nos.pa", 2, 5)[1])


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

    def test_the_document_is_read_once(self):
        editor = FakeEditor("import os\nos.pa")
        reads = []
        text = editor.GetText
        editor.GetText = lambda: reads.append(1) or text()
        self.run_main(editor)
        self.assertEqual(len(reads), 1)

    def test_request_gives_the_line_before_the_caret(self):
        editor = FakeEditor("x = 1\n\u00f1am + 2", caret_chars=len("x = 1\n\u00f1am"))
        text, line, column, caret, before = autocomp_core.request_from_editor(editor)
        self.assertEqual((text, line, column, caret), (editor.text, 2, 3, 10))
        # Characters of that line, not the bytes of the typed part.
        self.assertEqual(before, "\u00f1am")


class Loading(unittest.TestCase):
    def test_top_level_only_imports(self):
        # The module is reloaded on every request: loading it must not pull in jedi or MpAPI,
        # and loading the warm-up script starts nothing before its MpMain.
        code = (
            "import sys, threading, autocomp, warmup; "
            "print('jedi' in sys.modules, 'MpAPI' in sys.modules, threading.active_count())"
        )
        out = subprocess.run(
            [sys.executable, "-c", code], cwd=HERE, capture_output=True, text=True, check=True
        ).stdout
        self.assertEqual(out.split(), ["False", "False", "1"])

    def test_reload_leaves_the_engine_loaded_once(self):
        module = importlib.reload(autocomp)
        self.assertIs(module.autocomp_core, sys.modules["autocomp_core"])
        self.assertIs(module.completions, autocomp_core.completions)

    def test_reload_keeps_working(self):
        module = importlib.reload(autocomp)
        self.assertIn("path", module.completions("import os\nos.pa", 2, 5)[1])


if __name__ == "__main__":
    unittest.main()
