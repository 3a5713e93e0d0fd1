"""The completion engine: what to offer at a caret of a Python document.

It runs in the completion server (autocomp_server.py), a process of its own, never in the
interpreter that runs the editor's scripts: nothing jedi imports, caches or sets reaches them.
A request pays only for what jedi needs: signatures are worked out only when a call tip may be
shown.

jedi reads modules the way the editor's scripts would import them, except that wxPython is
looked at as the live module (its stubs take seconds to read) and MpAPI through its type stub.
"""

import builtins
import inspect
import keyword
import os
import re
import sys
import warnings

import autocomp_shortcuts

# Line ends as the editor and jedi (parso) see them; str.splitlines would also split at form
# feeds and Unicode separators, and the line numbers would then disagree with jedi's.
_LINE_END = re.compile(r"\r\n|\r|\n")

# Strings (with their prefixes), comments and brackets, in document order. Unterminated
# strings and comments run to the end of the text.
_CHUNK = re.compile(
    r"""
      (?P<comment>\#[^\r\n]*)
    | (?P<string>[rRbBuUfF]{0,2}
        (?: '''(?:\\.|[^\\])*?(?:'''|\Z)
          | \"\"\"(?:\\.|[^\\])*?(?:\"\"\"|\Z)
          | '(?:\\.|[^\\'\r\n])*(?:'|(?=[\r\n])|\Z)
          | "(?:\\.|[^\\"\r\n])*(?:"|(?=[\r\n])|\Z)))
    | (?P<open>[(\[{])
    | (?P<close>[)\]}])
    | (?P<name>[^\W\d]\w*)
    """,
    re.VERBOSE | re.DOTALL,
)

_WORD_BEFORE = re.compile(r"\w+\Z")
_DOTTED_BEFORE = re.compile(r"([^\W\d]\w*(?:\s*\.\s*[^\W\d]\w*)*)\s*\.\s*\Z")
_CALLEE_BEFORE = re.compile(r"([^\W\d]\w*(?:\s*\.\s*[^\W\d]\w*)*)\s*\Z")
# "import a, b as c, d" or "from d" up to the module being typed.
_IMPORT_MODULE = re.compile(
    r"^\s*(?:import\s+(?:[\w.]+\s*(?:as\s+\w+\s*)?,\s*)*|from\s+)([\w.]*)\Z"
)
# "from m import a, b as c, " up to the name being typed.
_FROM_IMPORT = re.compile(
    r"^\s*from\s+([\w.]+)\s+import\s+(?:\(?\s*(?:\w+\s*(?:as\s+\w+\s*)?,\s*)*)\Z"
)
_IMPORT_LINE = re.compile(r"^[ \t]*import[ \t]+([^\r\n#;]+)", re.MULTILINE)
_FROM_LINE = re.compile(
    r"^[ \t]*from[ \t]+([\w.]+)[ \t]+import[ \t]+\(?([^\r\n#;)]+)", re.MULTILINE
)

# A call tip shows at most this many signatures (overloads).
_MAX_SIGNATURES = 3


def split_lines(text):
    """The document's lines without their line ends."""
    return _LINE_END.split(text)


def completions(text, line, column, path=None, sys_path=None, calltip_only=False, use_jedi=True):
    """What to offer at a caret: (prefix_len, items, calltip).

    line counts from 1 and column from 0, in characters of that line (jedi's convention); both
    are clamped to the text. path is the document's file, sys_path the module path that imports
    are looked up in (None: this process's own). prefix_len is the number of characters of the
    word before the caret that the items complete; items is a list without duplicates, in jedi's
    order (see sort_items); calltip is the signature
    of the call whose parentheses hold the caret, or None. The call tip is only worked out when
    a list would not take its place: when nothing of a word is typed yet, or nothing matches.
    When nothing is typed and the caret is inside a call, the call tip is what the editor shows,
    and items is then left empty. With calltip_only (a "(" just typed) only the call tip is
    worked out, and items is empty. Without use_jedi the answer is the one made when jedi cannot
    be imported: from the text and the modules already loaded, at once.
    """
    lines = split_lines(text)
    line = min(max(int(line), 1), len(lines))
    column = min(max(int(column), 0), len(lines[line - 1]))
    return _complete(
        text, line, column, path, sys_path, lines[line - 1][:column], lines, calltip_only,
        use_jedi,
    )


def _complete(
    text, line, column, path, sys_path, before, lines=None, calltip_only=False, use_jedi=True
):
    """completions() at a caret known to lie in the text; before is the caret line's text up to
    the caret. lines (the text split) is only needed without jedi and is made when missing."""
    # A comment needs a "#" before the caret on its line; only then is the text scanned. A "("
    # just typed opens a call only in code.
    if "#" in before or calltip_only:
        if _scan(text[: _offset_of_line(text, line) + column])[0] != "code":
            return 0, [], None
    jedi = _load_jedi() if use_jedi else None
    if jedi is not None:
        try:
            return _jedi_completions(jedi, text, line, column, path, sys_path, before, calltip_only)
        except Exception:  # jedi has its own faults on odd input; the fallback still answers
            pass
    if lines is None:
        lines = split_lines(text)
    found = _fallback_completions(text, lines, line, column)
    return (0, [], found[2]) if calltip_only else found


# Documents larger than this are completed from the text around the caret, where jedi would
# take seconds over the whole: a caret line longer than LONG_LINE from the statement before the
# caret, a text of more than LARGE_TEXT characters or LARGE_LINES lines from its imports and the
# lines of the enclosing scope near the caret.
LARGE_TEXT = 256 * 1024
LARGE_LINES = 8000
LONG_LINE = 8000
# Lines kept whole before and after the caret in a large text; further up, the headers of the
# scopes that hold the caret.
_LINES_BEFORE = 300
_LINES_AFTER = 30
# Of a long caret line, at most this much before the caret and after it.
_CUT_BEFORE = 2000
_CUT_AFTER = 200

_TOP_IMPORT = re.compile(r"(?:import|from)[ \t]")
_SCOPE_HEADER = re.compile(r"[ \t]*(?:async[ \t]+def|def|class)[ \t]")


def around_caret(text, line, column):
    """The text that a large document is completed from: (text, line, column, shift), where the
    text keeps the document's line numbers (the lines left out are empty) and shift is the
    number of characters cut from the caret line before the caret, which the new column lacks.
    A document that is not large comes back as it is, with the caret clamped."""
    lines = split_lines(text)
    line = min(max(int(line), 1), len(lines))
    column = min(max(int(column), 0), len(lines[line - 1]))
    here = line - 1
    shift = 0
    if len(lines[here]) > LONG_LINE:
        lines[here], shift = _cut_line(lines[here], column)
        column -= shift
    if len(text) <= LARGE_TEXT and len(lines) <= LARGE_LINES:
        return ("\n".join(lines) if shift else text), line, column, shift
    kept = set(range(max(here - _LINES_BEFORE, 0), min(here + _LINES_AFTER, len(lines))))
    # The enclosing scopes' headers: def and class lines above, each less indented than all
    # below it down to the caret.
    indent = min(
        (_indent(lines[i]) for i in kept if i <= here and lines[i].strip()), default=0
    )
    for i in range(min(kept) - 1, -1, -1):
        if indent == 0:
            break
        if lines[i].strip() and _indent(lines[i]) < indent:
            indent = _indent(lines[i])
            if _SCOPE_HEADER.match(lines[i]):
                kept.add(i)
    # The module's imports, with the lines they go on over.
    open_import = False
    for i, source in enumerate(lines):
        if open_import or _TOP_IMPORT.match(source):
            kept.add(i)
            open_import = source.rstrip().endswith("\\") or (
                (open_import or "(" in source) and ")" not in source
            )
    reduced = [
        source if i in kept and (i == here or len(source) <= LONG_LINE) else ""
        for i, source in enumerate(lines)
    ]
    return "\n".join(reduced), line, column, shift


def _indent(source):
    return len(source) - len(source.lstrip(" \t"))


def _cut_line(source, column):
    """A long caret line from the statement before the caret (after the last ";" not far
    before it, else from a word's start not far before it), with its indentation, and how many
    characters before the caret went."""
    indent = _indent(source)
    start = max(column - _CUT_BEFORE, indent)
    statement = source.rfind(";", start, column)
    if statement >= 0:
        start = statement + 1
    else:
        while start < column and (source[start].isalnum() or source[start] == "_"):
            start += 1  # not from the middle of a name
    while start < column and source[start] in " \t":
        start += 1
    cut = source[:indent] + source[start:column] + source[column : column + _CUT_AFTER]
    return cut, start - indent


def sort_items(names):
    """Without duplicates, in jedi's order: public names, then _private ones, then __dunder__
    ones, each group in case-insensitive order (the editor's list searches it that way)."""
    unique = {name for name in names if name and not any(c.isspace() or c == "?" for c in name)}
    return sorted(
        unique, key=lambda name: (name.startswith("__"), name.startswith("_"), name.lower(), name)
    )


# Modules jedi looks at as live objects, imported, instead of reading their source or stubs:
# wxPython's stubs are 1.3 MB that take seconds to read on every request.
LIVE_MODULES = ("wx",)

# Submodules of the live modules are looked at only once imported: wx.stc always (the editor's
# documents are wx.stc controls), the others, at any depth, when a document names them.
_LIVE_SUBMODULES = ("wx.stc",)
_LIVE_CHAIN = re.compile(
    r"(?<![\w.])((?:%s)(?:[ \t]*\.[ \t]*[a-z_]\w*)+)" % "|".join(LIVE_MODULES)
)
_not_modules = set()
_journal = None  # where the import under way is written down, or None

_jedi = None


def keep_import_journal(path, refused=None):
    """Writes down each live submodule's import at path while it runs: one that ended the
    process (a crash in its C code) is never imported again by a later server. The names of
    such modules are kept in the file refused (by default beside the journal)."""
    global _journal
    _journal = path
    refused = refused or path + ".refused"
    try:
        with open(path, encoding="utf-8") as journal:
            crashed = journal.read().strip()
        if crashed:
            with open(refused, "a", encoding="utf-8") as kept:
                kept.write(crashed + "\n")
        os.unlink(path)
    except OSError:
        pass
    try:
        with open(refused, encoding="utf-8") as kept:
            _not_modules.update(name for name in kept.read().split() if name)
    except OSError:
        pass


def _import_live(name):
    import importlib

    if _journal is not None:
        with open(_journal, "w", encoding="utf-8") as journal:
            journal.write(name)
    try:
        importlib.import_module(name)
    finally:
        if _journal is not None:
            os.unlink(_journal)


def load_live_modules(text=""):
    """Imports the live modules, and the submodules of theirs that the text names, at any
    depth ("wx.lib.agw.aui.AuiManager" imports wx.lib, wx.lib.agw and wx.lib.agw.aui)."""
    named = any(module in text for module in LIVE_MODULES)  # the scan below is dearer
    wanted = []
    if named:
        for chain in _LIVE_CHAIN.finditer(text):
            parts = re.sub(r"\s+", "", chain.group(1)).split(".")
            wanted += [".".join(parts[: i + 1]) for i in range(1, len(parts))]
    for name in LIVE_MODULES + _LIVE_SUBMODULES + tuple(wanted):
        if name in sys.modules or name in _not_modules:
            continue
        parent = sys.modules.get(name.rpartition(".")[0]) if "." in name else None
        if "." in name and not hasattr(parent, "__path__"):
            _not_modules.add(name)  # below a module that is no package, or not loaded
            continue
        try:
            _import_live(name)
        except Exception:  # not a module (a function, say), or one that fails to import
            _not_modules.add(name)


def _load_jedi():
    """jedi, set up for the editor's scripts, or None when it cannot be imported."""
    global _jedi
    if _jedi is None:
        try:
            import jedi
        except Exception:  # not installed, or broken: complete without it
            return None
        known = list(jedi.settings.auto_import_modules)
        jedi.settings.auto_import_modules = known + [m for m in LIVE_MODULES if m not in known]
        autocomp_shortcuts.install_jedi(jedi)
        _jedi = jedi
    return _jedi


# -- jedi -----------------------------------------------------------------------------------


# One jedi project per module path: jedi keeps what it learnt of the modules with it.
_projects = {}


def module_root(path):
    """The folder a document's imports start from: its own, or for a module of a package (a
    folder with __init__.py, in any depth of packages) the folder above the outermost package,
    where jedi, like Python, finds the package itself."""
    folder = os.path.dirname(os.path.abspath(path))
    while os.path.isfile(os.path.join(folder, "__init__.py")):
        above = os.path.dirname(folder)
        if above == folder:
            break
        folder = above
    return folder


def _script(jedi, text, path, sys_path):
    # This process's own interpreter: no helper process of jedi's.
    project = None
    if sys_path is not None:
        # The document's folder is searched too, as it is for a script run from there; in a
        # package its siblings are found as the package's modules, never as top-level ones
        # (a module warnings.py beside it is not the standard library's warnings).
        folder = module_root(path) if path else os.getcwd()
        key = (folder, tuple(sys_path))
        project = _projects.get(key)
        if project is None:
            project = jedi.Project(folder, sys_path=list(sys_path))
            if len(_projects) >= 16:
                _projects.clear()
            _projects[key] = project
    return jedi.Script(
        code=text, path=path, environment=jedi.InterpreterEnvironment(), project=project
    )


def _jedi_completions(jedi, text, line, column, path, sys_path, before, calltip_only=False):
    load_live_modules(text)
    typed = _prefix_length(before)
    quick = None if calltip_only else _live_module_attributes(text, before, typed)
    if quick:
        return typed, quick, None
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        script = _script(jedi, text, path, sys_path)
        if calltip_only:
            return 0, [], _calltip(script, text, line, column)
        if not typed and not before.endswith("."):
            # Nothing of a word typed: inside a call the editor shows the call tip instead of
            # the list, so the list is not worked out. Outside a call jedi answers at once.
            # After a dot the attributes are wanted, call or no call ("print(os.").
            calltip = _calltip(script, text, line, column)
            if calltip:
                return 0, [], calltip
        found = script.complete(line, column)
        prefix_len = found[0].get_completion_prefix_length() if found else typed
        items = sort_items(c.name for c in found)
        calltip = None
        if typed and not items:
            calltip = _calltip(script, text, line, column)
    return prefix_len, items, calltip


# A live module's attribute being typed at the end of a dotted name: "wx.Fra", "wx.stc.STC_".
_LIVE_ATTRIBUTE = re.compile(r"(?<![\w.])([^\W\d]\w*(?:\.[^\W\d]\w*)*)\.(\w*)\Z")
_submodules = {}

# What the import system sets in every module and jedi does not offer after "module.": jedi
# lists a module's __doc__, __file__, __name__ and __package__, and what its code defines.
_IMPORT_DUNDERS = {"__builtins__", "__cached__"}
_PACKAGE_DUNDERS = {"__loader__", "__path__", "__spec__"}


def _live_module_attributes(text, before, typed):
    """The names after "module." for a live module the document imports as such, without asking
    jedi: jedi would list the same names of the live module, thousands of them for wx, in tens of
    milliseconds. None when the caret is elsewhere, or nothing matches (jedi then answers)."""
    found = _LIVE_ATTRIBUTE.search(before)
    if not found or found.group(1).split(".")[0] not in LIVE_MODULES:
        return None
    dotted = found.group(1)
    # Only a module the document binds by a plain import: a variable of that name is jedi's.
    if _import_bindings(text).get(dotted.split(".")[0]) != dotted.split(".")[0]:
        return None
    module = sys.modules.get(dotted)
    if module is None:
        return None
    names = set(_attributes(module)) - _module_dunders_left_out(module)
    names |= _submodule_names(module)
    prefix = found.group(2)[len(found.group(2)) - typed :].lower()
    return sort_items(name for name in names if name.lower().startswith(prefix)) or None


def _module_dunders_left_out(module):
    # A package's are its __init__'s; a module that star-imports a compiled one has __loader__
    # and __spec__ from there, as jedi sees them.
    if hasattr(module, "__path__"):
        return _IMPORT_DUNDERS | _PACKAGE_DUNDERS
    return _IMPORT_DUNDERS


def _submodule_names(module):
    """The submodules a package can import, as jedi offers them after its name and a dot."""
    name = module.__name__
    if name not in _submodules:
        paths = getattr(module, "__path__", None)
        found = _iter_module_names(list(paths)) if paths else set()
        _submodules[name] = {sub for sub in found if not sub.startswith("_")}
    return _submodules[name]


def _calltip(script, text, line, column):
    signatures = script.get_signatures(line, column)
    if signatures:
        return "\n".join(s.to_string() for s in signatures[:_MAX_SIGNATURES])
    return _live_calltip(script, text, line, column)


# The method called at the end of the text before a call's "(": ".Method", after an object that
# may itself end in a call ("wx.Frame(None).SetTitle").
_METHOD_BEFORE = re.compile(r"\.\s*([^\W\d]\w*)\s*\Z")


def _live_calltip(script, text, line, column):
    """The call tip of a live object's method (a wx class's), for which jedi has no signature:
    the signature lines that start its docstring ("SetTitle(title)"). None elsewhere."""
    caret = _offset_of_line(text, line) + column
    before = text[:caret]
    state, stack = _scan(before)
    if state != "code" or not stack or before[stack[-1]] != "(":
        return None
    method = _METHOD_BEFORE.search(before[: stack[-1]])
    if not method:
        return None
    # Asked at the dot, jedi infers the object before it.
    dot = method.start()
    dot_line = len(split_lines(before[:dot]))
    dot_column = dot - _offset_of_line(text, dot_line)
    name = method.group(1)
    for inferred in script.infer(dot_line, dot_column):
        owner = _live_object(inferred.full_name)
        # Plain getattr: a wx class's methods carry their docstrings only when bound to it.
        try:
            method = _MISSING if owner is _MISSING else getattr(owner, name)
        except Exception:
            method = _MISSING
        tip = _docstring_signatures(method, name)
        if tip:
            return tip
    return None


def _live_object(full_name):
    """The object of a live module that a jedi name stands for ("wx._core.Frame"), or
    _MISSING."""
    if not full_name or full_name.split(".")[0] not in LIVE_MODULES:
        return _MISSING
    parts = full_name.split(".")
    for split in range(len(parts), 0, -1):
        found = sys.modules.get(".".join(parts[:split]), _MISSING)
        if found is _MISSING:
            continue
        for part in parts[split:]:
            found = _safe_getattr(found, part)
        return found
    return _MISSING


def _docstring_signatures(obj, name):
    if obj is _MISSING:
        return None
    try:
        return name + str(inspect.signature(obj))
    except Exception:  # wx's methods carry their signatures in their docstrings alone
        pass
    doc = getattr(obj, "__doc__", None)
    if not isinstance(doc, str):
        return None
    found = [line.strip() for line in doc.splitlines() if line.strip().startswith(name + "(")]
    return "\n".join(found[:_MAX_SIGNATURES]) or None


def _prefix_length(before):
    word = _WORD_BEFORE.search(before)
    return len(word.group()) if word else 0


# -- without jedi ---------------------------------------------------------------------------


def _fallback_completions(text, lines, line, column):
    before_line = lines[line - 1][:column]
    # Line ends differ in length (\r\n): measure the text itself up to the caret's line.
    offset = _offset_of_line(text, line) + column
    before = text[:offset]
    state, stack = _scan(before)
    if state == "comment":
        return 0, [], None

    word = _WORD_BEFORE.search(before_line)
    prefix = word.group() if word else ""
    items = []
    if state != "string" and not prefix[:1].isdigit():
        rest = before_line[: len(before_line) - len(prefix)]
        after_word = re.match(r"\w*", text[offset:]).end()
        document = text[: offset - len(prefix)] + " " + text[offset + after_word :]
        items = _candidates(document, rest, prefix)
        items = [n for n in items if _matches(n, prefix)]
    items = sort_items(items)

    calltip = None
    if (not prefix or not items) and stack:
        calltip = _fallback_calltip(text, before[: stack[-1]])
    return len(prefix), items, calltip


def _offset_of_line(text, line):
    """Offset of the line's first character (line ends differ in length)."""
    if line <= 1:
        return 0
    for number, end in enumerate(_LINE_END.finditer(text), 2):
        if number == line:
            return end.end()
    return len(text)


def _scan(before):
    """Where the caret stands ("code", "string" or "comment") and the offsets of the brackets
    still open before it."""
    stack = []
    state = "code"
    for chunk in _CHUNK.finditer(before):
        kind = chunk.lastgroup
        state = "code"
        if kind == "open":
            stack.append(chunk.start())
        elif kind == "close":
            if stack:
                stack.pop()
        elif kind == "comment":
            if chunk.end() == len(before):
                state = "comment"
        elif kind == "string" and chunk.end() == len(before) and not _closed(chunk.group()):
            state = "string"
    return state, stack


def _closed(literal):
    body = literal.lstrip("rRbBuUfF")
    quote = body[:3] if body[:3] in ("'''", '"""') else body[:1]
    return len(body) >= 2 * len(quote) and body.endswith(quote) and not body.endswith("\\" + quote)


def _matches(name, prefix):
    if not name.lower().startswith(prefix.lower()):
        return False
    return prefix.startswith("_") or not name.startswith("_")


def _candidates(document, rest, prefix):
    """Every name that may stand at the caret, before filtering by the typed prefix."""
    module = _IMPORT_MODULE.match(rest)
    if module:
        return _module_names(module.group(1))
    source = _FROM_IMPORT.match(rest)
    if source:
        found = _resolve_module(source.group(1))
        names = list(_module_names(source.group(1) + "."))
        return names + (dir(found) if found is not None else [])
    dotted = _DOTTED_BEFORE.search(rest)
    if dotted:
        base = re.sub(r"\s+", "", dotted.group(1))
        found = _resolve(document, base)
        if found is not _MISSING:
            return _attributes(found)
        return _document_attributes(document)
    names = set(keyword.kwlist) | set(dir(builtins)) | _document_names(document)
    return list(names)


_MISSING = object()


def _module_names(dotted):
    """Modules to offer after "import" or "from": top-level ones, or a package's own."""
    package, _, _ = dotted.rpartition(".")
    if package:
        lead = package + "."
        loaded = [key for key in list(sys.modules) if key.startswith(lead)]
        names = {key[len(lead) :].split(".")[0] for key in loaded}
        found = sys.modules.get(package)
        paths = getattr(found, "__path__", None)
        if paths:
            names |= _iter_module_names(list(paths))
        return list(names)
    names = {key.split(".")[0] for key in list(sys.modules)}
    names |= set(sys.builtin_module_names)
    names |= _iter_module_names(None)
    return list(names)


def _iter_module_names(paths):
    import pkgutil

    try:
        return {info.name for info in pkgutil.iter_modules(paths)}
    except Exception:  # an unreadable folder on the path
        return set()


def _resolve_module(name):
    """A module the interpreter has already loaded; nothing is imported for completion."""
    return sys.modules.get(name)


def _import_bindings(document):
    """Names the document's import statements bind, to the dotted names they stand for."""
    bound = {}
    for statement in _IMPORT_LINE.finditer(document):
        for part in statement.group(1).split(","):
            words = part.split()
            if len(words) == 3 and words[1] == "as":
                bound[words[2]] = words[0]
            elif len(words) == 1:
                top = words[0].split(".")[0]
                bound[top] = top
    for statement in _FROM_LINE.finditer(document):
        source = statement.group(1)
        for part in statement.group(2).split(","):
            words = part.split()
            if len(words) == 3 and words[1] == "as":
                bound[words[2]] = source + "." + words[0]
            elif len(words) == 1 and words[0] != "*":
                bound[words[0]] = source + "." + words[0]
    return bound


def _resolve(document, dotted):
    """The object a dotted name of the document stands for, or _MISSING. Only modules already
    loaded, their attributes and the builtins are looked at; no code of the document runs."""
    parts = dotted.split(".")
    bound = _import_bindings(document)
    target = bound.get(parts[0])
    if target is not None:
        found = _lookup_loaded(target)
    elif hasattr(builtins, parts[0]):
        found = getattr(builtins, parts[0])
    else:
        return _MISSING
    for part in parts[1:]:
        if found is _MISSING:
            break
        attribute = _safe_getattr(found, part)
        if attribute is _MISSING and inspect.ismodule(found):
            # A submodule that is loaded but not bound in its package.
            attribute = sys.modules.get(found.__name__ + "." + part, _MISSING)
        found = attribute
    return found


def _lookup_loaded(dotted):
    if dotted in sys.modules:
        return sys.modules[dotted]
    module, _, attribute = dotted.rpartition(".")
    if module in sys.modules:
        return _safe_getattr(sys.modules[module], attribute)
    return _MISSING


def _safe_getattr(obj, name):
    try:
        return inspect.getattr_static(obj, name)
    except Exception:
        return _MISSING


def _attributes(obj):
    try:
        return [name for name in dir(obj) if isinstance(name, str)]
    except Exception:  # a __dir__ of its own that fails
        return []


def _document_names(document):
    return {m.group() for m in _CHUNK.finditer(document) if m.lastgroup == "name"}


def _document_attributes(document):
    return {m.group(1) for m in re.finditer(r"\.\s*([^\W\d]\w*)", _code_only(document))}


def _code_only(document):
    """The document with its strings and comments blanked out."""
    def blank(chunk):
        return " " if chunk.lastgroup in ("string", "comment") else chunk.group()

    return _CHUNK.sub(blank, document)


def _fallback_calltip(text, before_bracket):
    callee = _CALLEE_BEFORE.search(before_bracket)
    if not callee:
        return None
    dotted = re.sub(r"\s+", "", callee.group(1))
    if keyword.iskeyword(dotted.split(".")[-1]):
        return None
    name = dotted.split(".")[-1]
    code = _code_only(text)
    pattern = r"^[ \t]*(?:async[ \t]+)?def[ \t]+" + re.escape(name) + r"[ \t]*\(([^)]*)\)"
    definition = re.search(pattern, code, re.MULTILINE)
    if definition and "." not in dotted:
        params = " ".join(definition.group(1).split())
        return "%s(%s)" % (name, params)
    found = _resolve(text, dotted)
    if found is _MISSING:
        return None
    try:
        return name + str(inspect.signature(found))
    except Exception:  # builtins without a signature
        doc = getattr(found, "__doc__", None)
        first = doc.strip().splitlines()[0] if isinstance(doc, str) and doc.strip() else ""
        return first if first.startswith(name + "(") else None


