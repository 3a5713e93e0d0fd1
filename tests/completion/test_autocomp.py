"""The completion engine, server and script, in a plain interpreter, with jedi and without it."""

import contextlib
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import textwrap
import time
import types
import unittest
from unittest import mock

HERE = os.environ.get("COILHATCH_AUTOCOMP_DIR") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "python", "autocomplete"
)
# The folder of MpAPI's type stub.
STUB_DIR = os.environ.get("COILHATCH_STUB_DIR") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "host", "mpapi"
)
sys.path.insert(0, HERE)

import autocomp  # noqa: E402
import autocomp_core  # noqa: E402
import autocomp_insight  # noqa: E402


@contextlib.contextmanager
def jedi_as(module):
    """Completions made with this module as jedi (None: jedi cannot be imported)."""
    with mock.patch.dict(sys.modules, {"jedi": module}), mock.patch.object(
        autocomp_core, "_jedi", None
    ):
        yield


def plain_jedi(cases):
    """jedi's own names at each (text, path, line, column), in a process of its own: one JSON
    list a case."""
    script = (
        "import json, sys, jedi\n"
        "for text, path, line, column in json.load(sys.stdin):\n"
        "    script = jedi.Script(code=text, path=path)\n"
        "    print(json.dumps([c.name for c in script.complete(line, column)]))\n"
    )
    return subprocess.run(
        [sys.executable, "-c", script], input=json.dumps(cases), capture_output=True,
        text=True, check=True,
    ).stdout.splitlines()


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
        lines = autocomp_core.split_lines(text)
        if line is None:
            line = len(lines)
        if column is None:
            column = len(lines[line - 1])
        return autocomp_core.completions(text, line, column)

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

    def test_items_in_jedis_order(self):
        _, items, _ = self.complete("import io\nio.TextIOWrapper.")
        # Public names first, case-insensitively ("_" before letters), then _private, __dunder__.
        self.assertLess(items.index("write_through"), items.index("writelines"))
        self.assertEqual(
            items, sorted(items, key=lambda n: (n.startswith("__"), n.startswith("_"), n.lower()))
        )
        self.assertEqual(len(items), len(set(items)))
        self.assertFalse(any(" " in item for item in items))
        _, items, _ = self.complete("import threading\nthreading.act")
        self.assertEqual(items[:2], ["active_count", "activeCount"])


class WithJedi(Cases, unittest.TestCase):
    def setUp(self):
        if autocomp_core._load_jedi() is None:
            self.skipTest("jedi is not installed")

    def test_wx_is_read_live(self):
        for text, wanted in (
            ("import wx\nwx.Fra", "Frame"),
            ("import wx\nwx.Frame(None).SetTi", "SetTitle"),
            ("import wx.stc\nwx.stc.StyledTextCtrl().GetLin", "GetLineCount"),
            ("import wx\nwx.ad", "adv"),  # a submodule not imported yet
        ):
            with self.subTest(text=text):
                self.assertIn(wanted, self.complete(text)[1])
        # A live module's names are listed without jedi only where the name is the module.
        self.assertEqual(self.complete("import wx\nwx.Fra")[:2][0], 3)
        self.assertNotIn("Frame", self.complete("wx = 3\nwx.Fra")[1])

    def test_the_same_names_as_jedi_alone(self):
        # jedi's own work, in an interpreter of its own, against the server's shortcut through
        # it: scopes that hold names of every kind, a bare name, and a place in the standard
        # library.
        own = textwrap.dedent(
            """\
            import dataclasses
            class Base:
                scale = 1
                SCALE_MAX = 9
                def __init__(self):
                    self.scan = 1
                    self.__secret = 2
                def _scold(self): self.sc
                def _peek(self): return self.__se
            class Proxy:
                def __init__(self, target): self._target = target
                def __getattr__(self, name): return getattr(self._target, name)
            @dataclasses.dataclass
            class Point:
                x_axis: int
                x_label: str = ""
            Base().sc
            Base().SC
            Proxy([]).ap
            Point(1).x_
            Pr
            """
        )
        cases = [
            (own, None, n, len(line))
            for n, line in enumerate(own.split("\n"), 1)
            if re.search(r"(\.\w*|^\w+)$", line) and not line.startswith("@")
        ]
        path = os.path.join(os.path.dirname(os.__file__), "json", "decoder.py")
        with open(path, encoding="utf-8") as f:
            cases.append((f.read(), path, 329, 15))
        alone = plain_jedi(cases)
        self.assertEqual(len(alone), len(cases))
        for (text, path, line, column), names in zip(cases, alone):
            with self.subTest(path=path, line=line):
                items = autocomp_core.completions(text, line, column, path)[1]
                self.assertEqual(items, autocomp_core.sort_items(json.loads(names)))
                self.assertTrue(items)


class WithoutJedi(Cases, unittest.TestCase):
    def setUp(self):
        patcher = jedi_as(None)
        patcher.__enter__()
        self.addCleanup(patcher.__exit__, None, None, None)

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
        broken.settings = types.SimpleNamespace(auto_import_modules=[])
        with jedi_as(broken):
            _, items, _ = autocomp_core.completions("import os\nos.pa", 2, 5)
        self.assertIn("path", items)


class FakeJedi(types.ModuleType):
    """A jedi that records what it is asked: ("Script", code, path), ("complete", line,
    column) and ("signatures", line, column). Its completions all complete `typed`."""

    def __init__(self, names=("path",), typed="", signature=None):
        super().__init__("jedi")
        self.calls = []
        self.InterpreterEnvironment = lambda: None
        self.settings = types.SimpleNamespace(auto_import_modules=[])
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
            def __init__(self, code=None, path=None, environment=None, project=None):
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
        lines = autocomp_core.split_lines(text)
        with jedi_as(jedi):
            return autocomp_core.completions(text, len(lines), len(lines[-1]))

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


class FakeEditor:
    """The part of wx.stc.StyledTextCtrl the script uses: positions are UTF-8 byte offsets."""

    def __init__(self, text, caret_chars=None):
        self.text = text
        chars = len(text) if caret_chars is None else caret_chars
        self.caret = len(text[:chars].encode("utf-8", "surrogateescape"))

    def _bytes(self):
        return self.text.encode("utf-8", "surrogateescape")

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
        return self._bytes()[start:end].decode("utf-8", "surrogateescape")


class EditorSide(unittest.TestCase):
    """The completion script: the request it returns for the plug-in to send."""

    def run_main(self, editor, path="/home/ann/tool.py"):
        api = types.ModuleType("MpAPI")
        management = types.SimpleNamespace(GetCurrentEditor=lambda: editor)
        if path is not None:
            management.GetCurrentFilePath = lambda: path
        api.CEditorManagement_Get = lambda: management
        with mock.patch.dict(sys.modules, {"MpAPI": api}):
            returned = autocomp.MpMain()
        return None if returned is None else json.loads(returned)

    def test_request(self):
        editor = FakeEditor("x = 1\n\u00f1am + 2", caret_chars=len("x = 1\n\u00f1am"))
        request = self.run_main(editor)
        # Line from 1, the column in characters of that line.
        self.assertEqual(
            (request["text"], request["line"], request["column"], request["path"]),
            (editor.text, 2, 3, "/home/ann/tool.py"),
        )
        self.assertEqual(request["sys_path"], [p for p in sys.path if isinstance(p, str)])

    def test_unknown_or_unsaved_document_and_undecodable_text(self):
        # An editor whose module has no GetCurrentFilePath, and a document never saved.
        for path in (None, ""):
            self.assertIsNone(self.run_main(FakeEditor("import os\nos.pa"), path)["path"])
        text = b"x = '\xff'".decode("utf-8", "surrogateescape")
        self.assertEqual(self.run_main(FakeEditor(text, 0))["text"], text)

    def test_no_editor_asks_nothing(self):
        self.assertIsNone(self.run_main(None))

    def test_loading_imports_neither_jedi_nor_mpapi(self):
        # The module is reloaded on every request, in the scripts' interpreter.
        code = (
            "import sys, threading, autocomp; "
            "print('jedi' in sys.modules, 'autocomp_core' in sys.modules, "
            "'MpAPI' in sys.modules, threading.active_count())"
        )
        out = subprocess.run(
            [sys.executable, "-c", code], cwd=HERE, capture_output=True, text=True, check=True
        ).stdout
        self.assertEqual(out.split(), ["False", "False", "False", "1"])


class LiveModules(unittest.TestCase):
    """wx read live: submodules at any depth, module dunders as jedi gives them, call tips of
    live methods, and imports that once ended the server never made again."""

    def setUp(self):
        if autocomp_core._load_jedi() is None:
            self.skipTest("jedi is not installed")

    def complete(self, text, **extra):
        lines = autocomp_core.split_lines(text)
        return autocomp_core.completions(
            text, len(lines), len(lines[-1]), None, [STUB_DIR] + sys.path, **extra
        )

    def test_submodules_at_any_depth(self):
        for text in (
            "import wx\nwx.lib.agw.aui.AuiManager().Add",
            "import wx\nm = wx.lib.agw.aui.AuiManager()\nm.Add",
        ):
            with self.subTest(text=text):
                self.assertIn("AddPane", self.complete(text)[1])

    def test_module_dunders_as_jedi_gives_them(self):
        dunders = self.complete("import wx.adv\nwx.adv.__")[1]
        self.assertIn("__file__", dunders)
        self.assertNotIn("__builtins__", dunders)
        self.assertNotIn("__cached__", dunders)
        self.assertNotIn("__path__", self.complete("import wx.lib\nwx.lib.__")[1])

    def test_call_tips_of_live_methods(self):
        chain = "import MpAPI\ned = MpAPI.CEditorManagement_Get().GetCurrentEditor()\n"
        for text, tip in (
            ("import wx\nwx.Frame(None).SetTitle(", "SetTitle(title)"),
            ("import wx\nf = wx.Frame(None)\nf.SetTitle(", "SetTitle(title)"),
            (chain + "ed.GetLineCount(", "GetLineCount() -> int"),
            ("import wx\nwx.MessageBox(", "MessageBox(message"),
        ):
            for calltip_only in (False, True):
                with self.subTest(text=text, calltip_only=calltip_only):
                    prefix, items, found = self.complete(text, calltip_only=calltip_only)
                    self.assertEqual((prefix, items), (0, []))
                    self.assertTrue(found and found.startswith(tip), found)

    def test_a_call_tip_alone_when_a_call_is_opened(self):
        self.assertEqual(self.complete("x = 1\nprin", calltip_only=True), (0, [], None))
        self.assertEqual(self.complete("x = '(", calltip_only=True), (0, [], None))

    def test_an_import_that_ended_a_server_is_not_made_again(self):
        with tempfile.TemporaryDirectory() as folder:
            journal = os.path.join(folder, "importing")
            with open(journal, "w") as f:
                f.write("wx.lib.deadly")
            saved = set(autocomp_core._not_modules)
            self.addCleanup(lambda: autocomp_core._not_modules.intersection_update(saved))
            self.addCleanup(setattr, autocomp_core, "_journal", None)
            autocomp_core.keep_import_journal(journal)
            self.assertIn("wx.lib.deadly", autocomp_core._not_modules)
            self.assertFalse(os.path.exists(journal))
            # A later server reads the same: the name is kept beside the journal.
            autocomp_core._not_modules.discard("wx.lib.deadly")
            autocomp_core.keep_import_journal(journal)
            self.assertIn("wx.lib.deadly", autocomp_core._not_modules)
            # Imports that end well leave no journal behind.
            autocomp_core.load_live_modules("import wx\nwx.lib.agw.aui")
            self.assertFalse(os.path.exists(journal))


class AroundTheCaret(unittest.TestCase):
    """A large document is completed from its imports and the enclosing scope near the caret,
    its line numbers kept; a long caret line from the statement before the caret."""

    def far_method(self, filler):
        head = ["import os", "from os import (", "    sep,", "    path)", "far_away = 1"]
        scope = ["class Far:", "    def method(self):"]
        body = ["        x_%d = %d" % (i, i) for i in range(filler)]
        return "\n".join(head + scope + body + ["        os.pa"])

    def test_what_is_kept(self):
        statement = "v = [1, 2]; "
        long_line = "import os\n" + statement * (6 * 1024 * 1024 // len(statement)) + "os.pa"
        large = self.far_method(20000)
        data_line = "DATA = '" + "x" * 100000 + "'"
        large_with_data = large.replace("far_away = 1", data_line)
        for name, text, kept, dropped, cut in (
            ("small", "import os\nx = 1\nos.pa", ["x = 1"], [], False),
            ("one long line", long_line, ["import os", "os.pa"], [statement * 2], True),
            ("many lines", large,
             ["import os", "from os import (", "    path)", "class Far:", "    def method",
              "x_19999 = ", "        os.pa"], ["far_away", "x_1 = 1\n"], False),
            ("a long line elsewhere", large_with_data, ["import os", "        os.pa"],
             ["DATA"], False),
        ):
            with self.subTest(name):
                lines = autocomp_core.split_lines(text)
                line, column = len(lines), len(lines[-1])
                cut_text, cut_line, cut_column, shift = autocomp_core.around_caret(
                    text, line, column)
                if name == "small":
                    self.assertEqual((cut_text, cut_line, cut_column, shift),
                                     (text, line, column, 0))
                self.assertEqual(len(autocomp_core.split_lines(cut_text)), len(lines))
                self.assertEqual(cut_line, line)
                self.assertEqual(shift > 0, cut)
                self.assertEqual(cut_column + shift, column)
                self.assertLess(len(cut_text), 300000)
                self.assertTrue(autocomp_core.split_lines(cut_text)[line - 1][:cut_column]
                                .endswith("os.pa"))
                for part in kept:
                    self.assertIn(part, cut_text)
                for part in dropped:
                    self.assertNotIn(part, cut_text)
                if autocomp_core._load_jedi() is not None:
                    found = autocomp_core.completions(cut_text, cut_line, cut_column)
                    self.assertEqual(found, autocomp_core.completions("import os\nos.pa", 2, 5))

    def test_a_cut_never_starts_inside_a_name_or_with_a_blank(self):
        text = "    " + "abcdefgh" * 2000 + " + os.pa"
        cut, _, column, shift = autocomp_core.around_caret(text, 1, len(text))
        self.assertTrue(cut.startswith("    os.pa") or cut.startswith("    + os.pa"), cut[:20])
        self.assertEqual(column + shift, len(text))


class PackagePath(unittest.TestCase):
    """A module of a package finds its imports as plain jedi does there: the package's siblings
    as the package's modules, never as top-level ones."""

    def setUp(self):
        if autocomp_core._load_jedi() is None:
            self.skipTest("jedi is not installed")
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder, True)

    def write(self, relative, text):
        path = os.path.join(self.folder, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def test_lists_equal_plain_jedis(self):
        sibling = "def sibling_only():\n    pass\n"
        for package in ("top/_pkg", "top/_pkg/sub", "plain"):
            init = "" if package == "plain" else "\n"
            if init:
                self.write(package + "/__init__.py", init)
            self.write(package + "/warnings.py", sibling)
        cases = [  # (document, text, whose warnings are listed)
            ("top/_pkg/outcomes.py", "import warnings\nwarnings.", {"standard"}),
            ("top/_pkg/sub/deep.py", "import warnings\nwarnings.", {"standard"}),
            ("top/_pkg/relative.py", "from . import warnings\nwarnings.", {"sibling"}),
            ("top/_pkg/absolute.py", "from _pkg import warnings\nwarnings.", {"sibling"}),
            # Beside a script, not in a package, jedi offers both.
            ("plain/script.py", "import warnings\nwarnings.", {"sibling", "standard"}),
        ]
        asked = []
        for document, text, _ in cases:
            path = self.write(document, text)
            lines = text.split("\n")
            asked.append((text, path, len(lines), len(lines[-1])))
        alone = plain_jedi(asked)
        for (document, _, whose), (text, path, line, column), names in zip(cases, asked, alone):
            with self.subTest(document):
                items = autocomp_core.completions(text, line, column, path, sys.path)[1]
                self.assertEqual(items, autocomp_core.sort_items(json.loads(names)))
                self.assertEqual("sibling_only" in items, "sibling" in whose)
                self.assertEqual("catch_warnings" in items, "standard" in whose)


# Run in an interpreter of its own: the shortcut goes into that jedi, then the case's SETUP, then
# completions; prints the outcome as JSON.
_SHORTCUT_PROBE = """\
import json, sys
sys.path.insert(0, sys.argv[1])
import jedi, autocomp_shortcuts
from jedi.api import completion
from jedi.inference import filters
own = completion.Completion.complete
SETUP
text = "class Base:\\n    scale = 1\\n    def __init__(self):\\n        self.scan = 1\\nBase().sc"
names = []
for _ in range(2):
    script = jedi.Script(code=text, environment=jedi.InterpreterEnvironment())
    names.append(sorted(c.name for c in script.complete(5, 9)))
print(json.dumps({
    "installed": installed, "names": names, "own": completion.Completion.complete is own,
    "notices": [autocomp_shortcuts.take_notice(), autocomp_shortcuts.take_notice()],
}))
"""


class ShortcutProvesItself(unittest.TestCase):
    """The jedi shortcut goes in only when it gives jedi's own answers, and steps out at its first
    fault; the completion under way still gets jedi's answer. Either is told once."""

    def probe(self, setup):
        done = subprocess.run(
            [sys.executable, "-c", _SHORTCUT_PROBE.replace("SETUP", setup), HERE],
            capture_output=True, text=True,
        )
        self.assertEqual(done.returncode, 0, done.stderr)
        return json.loads(done.stdout)

    def test_in_out_and_faults(self):
        if autocomp_core._load_jedi() is None:
            self.skipTest("jedi is not installed")
        answers = ["scale", "scan"]
        for what, setup, installed, own_after, notice in (
            ("agrees", "installed = autocomp_shortcuts.install_jedi(jedi)", True, False, None),
            ("answers differ",
             "real = autocomp_shortcuts._names\n"
             "calls = []\n"
             "def names(jedi):\n"
             "    calls.append(1)\n"
             "    return real(jedi) + [[]] * len(calls)\n"
             "autocomp_shortcuts._names = names\n"
             "installed = autocomp_shortcuts.install_jedi(jedi)",
             False, True, "answers differ from jedi's own"),
            ("a jedi internal it leans on changed after it went in",
             "installed = autocomp_shortcuts.install_jedi(jedi)\n"
             "values = filters._AbstractUsedNamesFilter.values\n"
             "cell = values.__closure__[values.__code__.co_freevars.index('definition_names')]\n"
             "def changed(*args): raise TypeError('changed')\n"
             "cell.cell_contents = changed",
             True, True, "failed (TypeError: changed)"),
            ("missing internals", "del completion.get_flow_scope_node\n"
             "installed = autocomp_shortcuts.install_jedi(jedi)", False, True, None),
        ):
            with self.subTest(what):
                found = self.probe(setup)
                self.assertEqual(found["installed"], installed)
                self.assertEqual(found["names"], [answers, answers])
                self.assertEqual(found["own"], own_after)
                told, again = found["notices"]
                self.assertEqual(told is None, notice is None)
                if notice:
                    self.assertIn(notice, told)
                self.assertIsNone(again)


class Insight(unittest.TestCase):
    """pyflakes' findings as `python3 -m pyflakes` prints them, definitions and help."""

    def pyflakes_cli(self, text):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "doc.py")
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            run = subprocess.run(
                [sys.executable, "-m", "pyflakes", path], capture_output=True, text=True
            )
        lines = (run.stdout + run.stderr).splitlines()
        found = [line[len(path) + 1 :] for line in lines if line.startswith(path + ":")]
        return found, path

    def test_findings_as_pyflakes_prints_them(self):
        if autocomp_insight._load_pyflakes() is None:
            self.skipTest("pyflakes is not installed")
        for text in (
            "import os\nimport sys as system\nx = undefined_name\n",
            "def f():\n    pass\ndef f():\n    pass\n",
            "s = '\u00f1'; print(undefined_\u00f1)\n",
            "def broken(:\n    pass\n",
            "x = (1,\n",
            "from os import *\npath\n",
            "",
            # Type comments, which pyflakes reads from the text's tokens, and their look-alikes.
            "from typing import List\nx = []  # type: List[int]\n",
            "def f(a):\n    # type: (Undefined) -> None\n    pass\n",
            "import os  # type: ignore\ns = '# type: os'\n",
        ):
            with self.subTest(text=text):
                expected, path = self.pyflakes_cli(text)
                found = autocomp_insight.diagnostics(text, path)
                self.assertEqual(
                    ["%d:%d: %s" % (d["line"], d["column"], d["message"]) for d in found],
                    expected,
                )

    def test_the_marked_range_is_the_name_in_bytes_of_its_line(self):
        if autocomp_insight._load_pyflakes() is None:
            self.skipTest("pyflakes is not installed")
        text = "import os.path\nimport numpy_x as np\ns = '\u00f1'; undefined_\u00f1\n"
        marked = [
            text.split("\n")[d["line"] - 1].encode("utf-8")[d["start"] : d["end"]].decode()
            for d in autocomp_insight.diagnostics(text)
        ]
        self.assertEqual(marked, ["os.path", "np", "undefined_\u00f1"])

    def test_without_pyflakes_there_are_no_findings(self):
        with mock.patch.object(autocomp_insight, "_pyflakes", False):
            self.assertIsNone(autocomp_insight.diagnostics("x = y\n"))

    def test_definitions_and_help(self):
        if autocomp_core._load_jedi() is None:
            self.skipTest("jedi is not installed")
        with tempfile.TemporaryDirectory() as stubs:
            os.symlink(os.path.join(STUB_DIR, "MpAPI.pyi"), os.path.join(stubs, "MpAPI.pyi"))
            sys_path = [stubs] + sys.path
            own = "def helper(x):\n    return x\nhelper(1)\n"
            for text, line, column, place in (
                (own, 3, 2, (None, 1)),
                ("import os\nos.path.join", 2, 9, ("/usr/lib/python3.11/posixpath.py", 71)),
                ("import MpAPI\nMpAPI.CEditorManagement_Get", 2, 8,
                 (os.path.join(STUB_DIR, "MpAPI.pyi"), None)),
                ("import wx\nwx.Frame(None).SetTitle", 2, 17, ("core.pyi", None)),
                ("nothing_here", 1, 3, None),
            ):
                with self.subTest(text=text):
                    found = autocomp_insight.goto(text, line, column, None, sys_path, stubs,
                                                  STUB_DIR)
                    if place is None:
                        self.assertIsNone(found)
                        continue
                    if place[0] is None:
                        self.assertEqual((found["path"], found["line"]), place)
                    else:
                        self.assertTrue(found["path"].endswith(place[0]), found)
                    if place[1] is not None:
                        self.assertEqual(found["line"], place[1])
            for text, line, column, starts in (
                (own, 3, 2, "helper(x)"),
                ("import wx\nwx.Frame(None).SetTitle", 2, 17, "SetTitle(title)\n\nSets"),
                ("import MpAPI\nMpAPI.CEditorManagement_Get", 2, 8, "CEditorManagement_Get()"),
            ):
                with self.subTest(text=text):
                    help = autocomp_insight.hover(text, line, column, None, sys_path)
                    self.assertTrue(help.startswith(starts), help)
                    self.assertLessEqual(len(help.splitlines()), autocomp_insight._HOVER_LINES)

    def test_help_of_the_standard_library_has_its_first_paragraph(self):
        if autocomp_core._load_jedi() is None:
            self.skipTest("jedi is not installed")
        # (text, line, column, the signature's start, the help's first words); the
        # docstring's own signature line ("sleep(seconds)") is not repeated.
        for text, line, column, signature, first in (
            ("import time\ntime.sleep", 2, 7, "sleep(", "Delay execution for a given number"),
            ("import os\nos.getcwd", 2, 5, "getcwd(", "Return a unicode string"),
            ("import textwrap\ntextwrap.dedent", 2, 11, "dedent(", "Remove any common leading"),
            ("len", 1, 1, "len(", "Return the number of items"),
        ):
            with self.subTest(text=text):
                help = autocomp_insight.hover(text, line, column, None, sys.path)
                paragraphs = help.split("\n\n")
                self.assertEqual(len(paragraphs), 2, help)
                self.assertTrue(paragraphs[0].startswith(signature), help)
                self.assertTrue(paragraphs[1].startswith(first), help)

    def test_definitions_outside_the_users_files_are_read_only(self):
        if autocomp_core._load_jedi() is None:
            self.skipTest("jedi is not installed")
        with tempfile.TemporaryDirectory() as own:
            mine = os.path.join(own, "mine.py")
            with open(mine, "w") as out:
                out.write("def helper():\n    pass\n")
            for text, line, column, read_only in (
                ("import os\nos.path.join", 2, 9, True),
                ("import wx\nwx.Frame", 2, 5, True),
                ("import mine\nmine.helper", 2, 7, False),
                ("def f(): pass\nf", 2, 0, False),
            ):
                with self.subTest(text=text):
                    found = autocomp_insight.goto(text, line, column, None, [own] + sys.path)
                    self.assertEqual(found.get("readonly", False), read_only, found)


class Server(unittest.TestCase):
    """The completion server as the plug-in runs it: a process whose descriptor 3 is one end of a
    socket pair."""

    # What the server's environment has besides the test's.
    environment = {}

    def setUp(self):
        self.ours, theirs = socket.socketpair()
        self.addCleanup(self.ours.close)
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.server = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "autocomp_server.py"), STUB_DIR, self.folder],
            # Descriptor 3 as the plug-in hands it over; the test's own are not inheritable.
            preexec_fn=lambda: (os.dup2(theirs.fileno(), 3), os.set_inheritable(3, True)),
            close_fds=False,
            stdin=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            env=dict(os.environ, **self.environment),
        )
        theirs.close()
        self.addCleanup(self.stop)
        self.ours.settimeout(60)
        self.pending = b""

    def stop(self):
        if self.server.poll() is None:
            self.server.kill()
        self.server.wait()
        self.server.stderr.close()

    def send(self, message, raw=None):
        data = json.dumps(message).encode("utf-8") if raw is None else raw
        self.ours.sendall(b"%d\n" % len(data) + data)

    def receive(self):
        while b"\n" not in self.pending:
            self.pending += self.ours.recv(1 << 16)
        header, _, rest = self.pending.partition(b"\n")
        while len(rest) < int(header):
            rest += self.ours.recv(1 << 16)
        self.pending = rest[int(header) :]
        return json.loads(rest[: int(header)])

    def complete(self, id, text, **extra):
        lines = autocomp_core.split_lines(text)
        request = {"text": text, "line": len(lines), "column": len(lines[-1]), "path": None}
        request.update(extra)
        self.send({"id": id, "kind": "complete", "request": request})

    def test_answers_with_the_mpapi_stub_and_live_wx(self):
        if autocomp_core._load_jedi() is None:
            self.skipTest("jedi is not installed")
        chain = "import MpAPI\ned = MpAPI.CEditorManagement_Get().GetCurrentEditor()\ned.GetLin"
        for id, (text, wanted) in enumerate(
            (
                ("import os\nos.pa", "path"),
                (chain, "GetLineCount"),
                ("import MpAPI\nMpAPI.CAppManagement_Get().GetAppWindow().SetTi", "SetTitle"),
                ("import MpAPI\nMpAPI.CMessageOutputManagement_Get().GetMessageOutput(0).App",
                 "Appender"),
                ("import wx\nwx.Fra", "Frame"),
            )
        ):
            with self.subTest(text=text):
                # The stub is found although the program folder is on the scripts' path.
                self.complete(id, text, sys_path=sys.path + [STUB_DIR])
                answer = self.receive()
                self.assertEqual(answer["id"], id)
                self.assertIn(wanted, answer["items"])
        self.send({"id": 99, "kind": "status"})
        status = self.receive()
        self.assertEqual((status["id"], status["pid"]), (99, self.server.pid))
        self.assertIsInstance(status["warm"], bool)

    def test_only_the_latest_completion_waiting_is_answered(self):
        # Held back until both are in: the server reads them together.
        self.send({"id": 1, "kind": "prepare", "text": "import os\nos.pa", "path": None})
        self.complete(2, "import os\nos.pa")
        self.complete(3, "import os\nos.ge")
        self.send({"id": 4, "kind": "status"})
        answers = [self.receive(), self.receive()]
        self.assertEqual([a["id"] for a in answers], [3, 4])
        self.assertIn("getcwd", answers[0]["items"])

    def test_bad_requests_are_answered_or_dropped_and_the_server_goes_on(self):
        self.send(None, raw=b"not json")
        self.send(None, raw=b"[1, 2]")
        self.send({"id": 5, "kind": "unknown"})
        self.assertEqual(self.receive(), {"id": 5, "error": "unknown kind 'unknown'"})
        self.send({"id": 6, "kind": "complete", "request": {"line": "x"}})
        self.assertEqual(self.receive()["id"], 6)
        self.complete(7, "pri")
        self.assertIn("print", self.receive()["items"])

    def test_findings_definitions_and_help(self):
        self.send({"id": 1, "kind": "diagnose", "document": 7, "text": "x = y\n", "path": None})
        answer = self.receive()
        self.assertEqual(answer["id"], 1)
        self.assertEqual(
            answer.get("diagnostics", [{"message": "undefined name 'y'"}])[0]["message"],
            "undefined name 'y'",
        )
        if autocomp_core._load_jedi() is None:
            return
        text = "def helper(x):\n    return x\nhelper(1)\n"
        where = {"text": text, "line": 3, "column": 2, "path": None}
        self.send(dict(where, id=2, kind="goto"))
        self.assertEqual(self.receive(), {"id": 2, "path": None, "line": 1, "column": 4})
        self.send(dict(where, id=3, kind="hover"))
        self.assertEqual(self.receive(), {"id": 3, "text": "helper(x)"})

    def test_it_ends_when_the_plugin_closes_its_end_or_sends_what_is_no_frame(self):
        self.send({"id": 1, "kind": "status"})
        self.receive()
        self.ours.shutdown(socket.SHUT_WR)
        self.assertEqual(self.server.wait(timeout=60), 0)

    def test_sigterm_ends_it_at_once(self):
        self.send({"id": 1, "kind": "status"})
        self.receive()
        self.server.send_signal(signal.SIGTERM)
        self.assertEqual(self.server.wait(timeout=60), -signal.SIGTERM)


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return True


def wait_until(condition, seconds=60):
    """Whether the condition came true before the time ran out (checked every 10 ms)."""
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.01)
    return True


class ServerWorkers(unittest.TestCase):
    """The server hands the work to workers that it ends and replaces: past the time budget (the
    request is answered from the text alone), when one dies, and when one has grown too big."""

    environment = {}
    setUp, stop, send, receive, complete = (
        Server.setUp, Server.stop, Server.send, Server.receive, Server.complete)

    def status(self, id=100):
        self.send({"id": id, "kind": "status"})
        return self.receive()

    def replaced_after(self, action):
        """The jedi worker before and after the action, once the one before has ended."""
        before = self.status()["jedi"]
        answer = action()
        after = self.status()["jedi"]
        self.assertNotEqual(after, before)
        self.assertTrue(wait_until(lambda: not alive(before)))
        return answer

    def test_a_worker_that_dies_is_replaced(self):
        killed = [self.status()["jedi"]]
        os.kill(killed[0], signal.SIGKILL)
        self.assertTrue(wait_until(lambda: self.status()["jedi"] != killed[0]))
        self.complete(1, "import os\nos.pa")
        self.assertIn("path", self.receive()["items"])

    def test_a_wedged_worker_is_ended_and_only_the_latest_request_answered(self):
        # A worker that never answers, as one lost in jedi for minutes; the request made
        # pointless by a later one is not answered, the later one is.
        self.assertTrue(wait_until(lambda: self.status()["warm"]))
        wedged = self.status()["jedi"]
        os.kill(wedged, signal.SIGSTOP)
        self.addCleanup(lambda: alive(wedged) and os.kill(wedged, signal.SIGKILL))
        self.complete(1, "import os\nos.pa")
        self.complete(2, "import os\nos.ge")
        answer = self.receive()
        self.assertEqual(answer["id"], 2)
        self.assertIn("getcwd", answer["items"])
        self.assertTrue(wait_until(lambda: not alive(wedged)))
        self.assertNotEqual(self.status()["jedi"], wedged)

    def test_large_documents_are_completed_around_the_caret(self):
        statement = "value = [1, 2, 3]; "
        one_line = "import os\n" + statement * (5 * 1024 * 1024 // len(statement)) + "os.pa"
        lines = long_document(20000)
        for id, text in enumerate((one_line, lines)):
            with self.subTest(lines=text.count("\n") + 1):
                self.complete(id, text)
                self.assertIn("path", self.receive()["items"])


class ServerPastItsBudget(ServerWorkers):
    environment = {"COILHATCH_COMPLETION_BUDGET": "0.01"}

    def test_work_past_the_budget_is_ended_and_answered_from_the_text(self):
        # Nothing that jedi answers in 10 ms: the answer comes from the text and the modules
        # loaded, as without jedi.
        text = long_document(3000).replace("os.pa", "counter_value = 1\ncou")

        def ask():
            self.complete(1, text)
            return self.receive()

        answer = self.replaced_after(ask)
        self.assertEqual(answer["id"], 1)
        self.assertIn("counter_value", answer["items"])
        # And the next are answered too, a large document's from the text around the caret.
        statement = "value = [1, 2, 3]; "
        one_line = "import os\n" + statement * (5 * 1024 * 1024 // len(statement)) + "os.pa"
        for id, text in enumerate(("import os\nos.pa", one_line, long_document(20000)), 2):
            self.complete(id, text)
            self.assertIn("path", self.receive()["items"])


class ServerPastItsMemory(ServerWorkers):
    environment = {"COILHATCH_COMPLETION_MEMORY": "1"}

    def test_a_worker_grown_too_big_is_replaced_once_it_has_answered(self):
        for id in range(2):
            def ask(id=id):
                self.complete(id, "import os\nos.pa")
                return self.receive()

            self.assertIn("path", self.replaced_after(ask)["items"])


if __name__ == "__main__":
    unittest.main()
