"""What the editor shows of a Python document beyond completion: pyflakes' findings, the
definition of a name, and a name's help when the mouse rests on it.

It runs in the completion server (autocomp_server.py), beside the completion engine, whose jedi
set-up it shares: modules are read as the editor's scripts would import them, wxPython as the
live module (its definitions are then looked up in wxPython's own stubs, *.pyi) and MpAPI through
its type stub.
"""

import contextlib
import inspect
import os
import re
import sys
import warnings

import autocomp_core
import autocomp_shortcuts

# A hover tip shows at most this many lines, each of at most this many characters.
_HOVER_LINES = 12
_HOVER_WIDTH = 100

_pyflakes = None  # the module, False when it cannot be imported


def _load_pyflakes():
    global _pyflakes
    if _pyflakes is None:
        try:
            from pyflakes import api, checker

            autocomp_shortcuts.install_pyflakes(checker)
            _pyflakes = api
        except Exception:  # not installed, or broken
            _pyflakes = False
    return _pyflakes or None


def diagnostics(text, path=None):
    """pyflakes' findings on the text, in its order: dicts of line (from 1) and column (from 1)
    as `python3 -m pyflakes` prints them, the message, and the range to mark on that line, start
    and end in UTF-8 bytes from the line's start. None when pyflakes cannot be imported."""
    api = _load_pyflakes()
    if api is None:
        return None
    lines = autocomp_core.split_lines(text)
    found = []

    class Reporter:
        def unexpectedError(self, filename, message):
            found.append(_finding(lines, 1, 1, str(message), None))

        def syntaxError(self, filename, message, lineno, offset, source):
            line = max(int(lineno or 1), 1)
            column = max(int(offset), 1) if offset is not None else 1
            # The offset counts characters of the line.
            found.append(_finding(lines, line, column, str(message), None, characters=True))

        def flake(self, message):
            text = message.message % message.message_args
            name = message.message_args[0] if message.message_args else None
            found.append(
                _finding(lines, message.lineno, message.col + 1, text, name)
            )

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        api.check(text, path or "<document>", Reporter())
    return found


_WORD = re.compile(r"\w+")


def _finding(lines, line, column, message, name, characters=False):
    """One finding, with the range to mark: the name it is about where the line shows it at or
    after the column, else the word at the column, else one character."""
    source = lines[line - 1] if 0 < line <= len(lines) else ""
    data = source.encode("utf-8", "surrogatepass")
    at = len(source[: column - 1].encode("utf-8", "surrogatepass")) if characters else column - 1
    at = min(max(at, 0), len(data))
    start, end = at, at
    if isinstance(name, str) and name:
        # "os.path" imported but unused; "np" of "numpy as np".
        wanted = name.split(" as ")[-1].encode("utf-8", "surrogatepass")
        where = data.find(wanted, at)
        if where < 0:
            where = data.find(wanted.split(b".")[0], at)
            wanted = wanted.split(b".")[0]
        if where >= 0:
            start, end = where, where + len(wanted)
    if start == end:
        word = _WORD.match(data[at:].decode("utf-8", "replace"))
        end = at + len(word.group().encode("utf-8")) if word else min(at + 1, len(data))
    return {"line": line, "column": column, "message": message, "start": start, "end": end}


# -- go to definition, hover --------------------------------------------------------------


@contextlib.contextmanager
def _script_at(text, line, column, path, sys_path):
    """(jedi's Script of the text, line, column clamped to the text), with the live modules the
    text names loaded and jedi's warnings silenced while it is used; (None, line, column)
    without jedi."""
    jedi = autocomp_core._load_jedi()
    if jedi is None:
        yield None, line, column
        return
    line, column = _clamp(text, line, column)
    autocomp_core.load_live_modules(text)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        yield autocomp_core._script(jedi, text, path, sys_path), line, column


def goto(text, line, column, path, sys_path, stub_folder=None, exec_path=None):
    """Where the name at the caret is defined: {"path": P, "line": L, "column": C} with line
    from 1 and column in characters from 0, path None for the document itself; None when
    nothing is found. A definition in MpAPI's stub is given in the stub beside the module, and
    one of a live wx object in wxPython's stubs."""
    with _script_at(text, line, column, path, sys_path) as (script, line, column):
        if script is None:
            return None
        names = script.goto(line, column, follow_imports=True)
        # Where jedi knows several (os.path.join in ntpath and posixpath), the one this
        # Python's module is comes first.
        names.sort(key=lambda name: not _is_loaded_file(name))
        for name in names:
            place = _place(name, path, stub_folder, exec_path)
            if place is not None:
                return _mark_read_only(place, exec_path)
        owner, member = _live_member(script, text, line, column)
        if isinstance(owner, type):
            holder = next((k for k in owner.__mro__ if member in vars(k)), None)
            if holder is not None:
                return _mark_read_only(_stub_place(holder, member), exec_path)
    return None


def _mark_read_only(place, exec_path):
    """The place, with "readonly": True when its file is not the user's to change."""
    if place is not None and place["path"] is not None and _is_installed(place["path"], exec_path):
        place["readonly"] = True
    return place


def _is_installed(path, exec_path=None):
    """Whether the file belongs to the Python installation or the editor rather than to the
    user: the interpreter's library, installed packages, stubs (typeshed's, wxPython's,
    MpAPI's)."""
    real = os.path.realpath(path)
    parts = real.split(os.sep)
    if path.endswith(".pyi") or {"site-packages", "dist-packages", "typeshed"} & set(parts):
        return True
    import sysconfig  # only where a definition is gone to

    folders = {sysconfig.get_path(key) for key in ("stdlib", "platstdlib", "purelib", "platlib")}
    folders.add(exec_path)
    return any(
        folder and os.path.commonpath([real, os.path.realpath(folder)]) == os.path.realpath(folder)
        for folder in folders
    )


def _place(name, path, stub_folder, exec_path):
    module_path = str(name.module_path) if name.module_path is not None else None
    if name.line is not None and not name.in_builtin_module():
        if module_path is None or (path and _same_file(module_path, path)):
            return {"path": None, "line": name.line, "column": name.column}
        if stub_folder and exec_path and os.path.dirname(module_path) == stub_folder:
            # The link to MpAPI's stub: the stub beside the module is the one to open.
            module_path = os.path.join(exec_path, os.path.basename(module_path))
        if not module_path.endswith((".so", ".pyd")):
            return {"path": module_path, "line": name.line, "column": name.column}
    return _live_stub_place(name.full_name)


def _is_loaded_file(name):
    """Whether the name lies in the file of the module this Python has loaded for it."""
    module = sys.modules.get((name.full_name or "").rpartition(".")[0])
    loaded = getattr(module, "__file__", None)
    return bool(loaded and name.module_path and _same_file(str(name.module_path), loaded))


def _same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.abspath(a) == os.path.abspath(b)


# The stubs of wxPython's compiled modules: wx._core is described in wx/core.pyi.
_stub_index = {}
_STUB_CLASS = re.compile(r"^class (\w+)\b")
_STUB_DEF = re.compile(r"^(    )?def (\w+)\(")
_STUB_NAME = re.compile(r"^(\w+) = ")


def _stub_of(module_name):
    """(path, {name: line, "Class.method": line}) of the stub of a live module, or None."""
    if module_name in _stub_index:
        return _stub_index[module_name]
    found = None
    module = sys.modules.get(module_name)
    package, _, last = module_name.rpartition(".")
    folder = os.path.dirname(getattr(module, "__file__", "") or "")
    candidates = [os.path.join(folder, last.lstrip("_") + ".pyi")]
    if getattr(module, "__file__", "").endswith((".py", ".pyc")):
        candidates.insert(0, os.path.splitext(module.__file__)[0] + ".pyi")
    for stub in candidates:
        if os.path.isfile(stub):
            found = (stub, _index_stub(stub))
            break
    _stub_index[module_name] = found
    return found


def _index_stub(stub):
    index = {}
    current = None
    with open(stub, encoding="utf-8", errors="replace") as source:
        for number, text in enumerate(source, 1):
            match = _STUB_CLASS.match(text)
            if match:
                current = match.group(1)
                index.setdefault(current, number)
                continue
            match = _STUB_DEF.match(text)
            if match:
                if match.group(1) and current:
                    index.setdefault(current + "." + match.group(2), number)
                elif not match.group(1):
                    current = None
                    index.setdefault(match.group(2), number)
                continue
            match = _STUB_NAME.match(text)
            if match:
                current = None
                index.setdefault(match.group(1), number)
    return index


def _live_stub_place(full_name):
    """A live wx object's definition in wxPython's stubs, or None."""
    obj = autocomp_core._live_object(full_name)
    if obj is autocomp_core._MISSING:
        return None
    parts = full_name.split(".")
    if not isinstance(obj, type) and not _is_module(obj) and len(parts) >= 2:
        # A method or attribute: found in the class of the MRO that defines it.
        holder = autocomp_core._live_object(".".join(parts[:-1]))
        if isinstance(holder, type):
            owner = next((k for k in holder.__mro__ if parts[-1] in vars(k)), holder)
            return _stub_place(owner, parts[-1])
    return _stub_place(obj, None)


def _stub_place(obj, member):
    """The line of a live class or function (and of a member of the class) in its module's
    stub, or None."""
    module_name = getattr(obj, "__module__", None)
    if _is_module(obj) or not isinstance(module_name, str):
        return None
    stub = _stub_of(module_name)
    if stub is None:
        return None
    key = getattr(obj, "__name__", "")
    if member:
        key += "." + member
    line = stub[1].get(key)
    if line is None:
        return None
    return {"path": stub[0], "line": line, "column": 0}


def _is_module(obj):
    return type(obj).__name__ == "module"


def hover(text, line, column, path, sys_path):
    """The help of the name at the caret: its signature and the first paragraph of its
    docstring, or None."""
    with _script_at(text, line, column, path, sys_path) as (script, line, column):
        if script is None:
            return None
        for name in script.help(line, column):
            live = autocomp_core._live_object(name.full_name or "")
            if live is not autocomp_core._MISSING and isinstance(
                getattr(live, "__doc__", None), str
            ):
                doc = live.__doc__
            else:
                doc = name.docstring()
            if not doc.strip():
                doc = _live_member_doc(script, text, line, column)
            elif not _help_paragraph(doc):
                # A stub gives the signature alone: the help is the loaded object's.
                loaded = _loaded_doc(name.full_name)
                if loaded:
                    doc = doc.rstrip() + "\n\n" + loaded
            if doc and doc.strip():
                return _shorten(doc)
    return None


def _loaded_doc(full_name):
    """The docstring of an object of a module this Python has loaded already (nothing is
    imported for it), or None."""
    parts = (full_name or "").split(".")
    for split in range(len(parts) - 1, 0, -1):
        found = sys.modules.get(".".join(parts[:split]))
        if found is None:
            continue
        for part in parts[split:]:
            found = autocomp_core._safe_getattr(found, part)
        doc = getattr(found, "__doc__", None) if found is not autocomp_core._MISSING else None
        return inspect.cleandoc(doc) if isinstance(doc, str) and doc.strip() else None
    return None


def _live_member_doc(script, text, line, column):
    """The docstring of a live object's member at the caret (obj.Member), which jedi reads
    empty."""
    owner, member = _live_member(script, text, line, column)
    try:
        doc = getattr(getattr(owner, member), "__doc__", None) if member else None
    except Exception:
        doc = None
    return doc if isinstance(doc, str) and doc.strip() else None


def _live_member(script, text, line, column):
    """(the live object, the member's name) of "obj.Member" at the caret, where obj is a live
    object jedi can infer; (None, None) elsewhere."""
    source = autocomp_core.split_lines(text)[line - 1]
    head = re.search(r"\w*\Z", source[:column]).group()
    member = head + re.match(r"\w*", source[column:]).group()
    before = source[: column - len(head)].rstrip()
    if not member or not before.endswith("."):
        return None, None
    for inferred in script.infer(line, len(before) - 1):
        owner = autocomp_core._live_object(inferred.full_name)
        if owner is not autocomp_core._MISSING:
            return owner, member
    return None, None


_SIGNATURE = re.compile(r"^[\w.]+\(.*\)(\s*->.*)?$")


def _paragraphs(doc):
    """The docstring's paragraphs, each a list of its lines, indentation as inspect leaves it."""
    paragraphs, current = [], []
    for line in inspect.cleandoc(doc).splitlines():
        if line.strip():
            current.append(line.rstrip())
        elif current:
            paragraphs.append(current)
            current = []
    if current:
        paragraphs.append(current)
    return paragraphs


def _is_signature(paragraph):
    return all(_SIGNATURE.match(line.strip()) for line in paragraph)


def _help_paragraph(doc):
    """The first paragraph of the docstring that is not a signature, or None."""
    return next((p for p in _paragraphs(doc) if not _is_signature(p)), None)


def _shorten(doc):
    """The signature and the first paragraph of help after it (a compiled function's own
    signature line in its docstring left out), a few lines."""
    paragraphs = _paragraphs(doc)
    kept = []
    if paragraphs and _is_signature(paragraphs[0]):
        kept.append(paragraphs[0])
    help_paragraph = _help_paragraph(doc)
    if help_paragraph is not None:
        kept.append(help_paragraph)
    lines = []
    for paragraph in kept:
        if lines:
            lines.append("")
        lines.extend(
            line if len(line) <= _HOVER_WIDTH else line[: _HOVER_WIDTH - 1] + "\u2026"
            for line in paragraph
        )
    return "\n".join(lines[:_HOVER_LINES]).rstrip()


def _clamp(text, line, column):
    lines = autocomp_core.split_lines(text)
    line = min(max(int(line), 1), len(lines))
    column = min(max(int(column), 0), len(lines[line - 1]))
    return line, column
