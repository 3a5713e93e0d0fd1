"""Completion for Python documents.

The plug-in runs this module (reloaded) on every completion request in a Python document and
calls MpMain, which reads the current editor's text and caret through MpAPI and shows either an
auto-completion list or a call tip in that editor.

Completions come from jedi when it can be imported, and otherwise from the keywords, the
builtins, modules already loaded, and the names of the document itself. Nothing here raises for
ordinary input: an empty document, a caret in a string or a comment, a document with a syntax
error or a very long one all give a list, a call tip or nothing.

The module is reloaded on every request, so it stays a thin entry: the work is done by
autocomp_core beside it, which is imported once and cached. `completions(text, line, column)`
is the pure part and can be called without an editor.
"""

import autocomp_core
from autocomp_core import completions, sort_items, split_lines  # noqa: F401


def MpMain():
    autocomp_core.main()
