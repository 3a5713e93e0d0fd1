"""Completion for Python documents.

The plug-in runs this module (reloaded) on every completion request in a Python document (when
Ctrl+Space is pressed, or "(" typed) and calls MpMain, which reads the current editor's text and
caret through MpAPI and returns the request for the completion server: a JSON object, as text.
The plug-in sends it and returns to the editor at once; when the server's answer comes, the
plug-in shows the list or call tip in the editor, if the document and caret are still as they
were (or only more of the word has been typed).

The completion server (autocomp_server.py beside this file) is a process of its own that the
plug-in starts with the editor: jedi runs there, never in the interpreter of the editor's
scripts. MpMain returns None when there is nothing to ask (no document open).
"""

import json
import sys


def request_from_editor(editor):
    """(text, line, column) of a wx.stc.StyledTextCtrl's caret: line from 1 and column in
    characters, as the server takes them."""
    caret = editor.GetCurrentPos()
    line = editor.LineFromPosition(caret)
    before = editor.GetTextRange(editor.PositionFromLine(line), caret)
    return editor.GetText(), line + 1, len(before)


def _document_path(management):
    """The current document's file, or None (never saved, or an editor without the call)."""
    try:
        return management.GetCurrentFilePath() or None
    except Exception:
        return None


def MpMain():
    import MpAPI

    management = MpAPI.CEditorManagement_Get()
    editor = management.GetCurrentEditor()
    if editor is None:
        return None
    text, line, column = request_from_editor(editor)
    request = {
        "text": text,
        "line": line,
        "column": column,
        "path": _document_path(management),
        # Imports are looked up as the editor's scripts would find them.
        "sys_path": [folder for folder in sys.path if isinstance(folder, str)],
    }
    # Lone surrogates (text that came from a file with undecodable bytes) go as escapes.
    return json.dumps(request)
