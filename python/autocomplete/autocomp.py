"""Completion for Python documents.

The plug-in runs this module (reloaded) on every completion request in a Python document and
calls MpMain, which reads the current editor's text and caret through MpAPI, asks the completion
server for what to offer there, and shows either an auto-completion list or a call tip in that
editor.

The completion server (autocomp_server.py beside this file) is a process of its own that the
plug-in starts with the editor: jedi runs there, never in the interpreter of the editor's
scripts. An answer that does not come within the request's budget shows nothing.
"""

import json
import os
import socket
import sys
import time

# The editor gives a completion request about 2 s; past this the answer is not waited for.
BUDGET = 1.5


def server_address(pid=None):
    """The completion server's socket: an abstract Unix socket named after the editor's
    process, which the plug-in listens on."""
    return "\0coilhatch-completion-%d" % (os.getpid() if pid is None else pid)


def ask(request, timeout=BUDGET):
    """The server's answer to a request (both dicts), or None when none came in time."""
    deadline = time.monotonic() + timeout
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.settimeout(timeout)
            connection.connect(server_address())
            connection.sendall(json.dumps(request).encode("utf-8", "surrogatepass"))
            connection.shutdown(socket.SHUT_WR)
            chunks = []
            while True:
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                connection.settimeout(left)
                chunk = connection.recv(1 << 16)
                if not chunk:
                    break
                chunks.append(chunk)
        answer = json.loads(b"".join(chunks).decode("utf-8"))
    except (OSError, ValueError):  # no server, a timeout, a server that died while answering
        return None
    return answer if isinstance(answer, dict) else None


def request_from_editor(editor):
    """(text, line, column, caret, before) of a wx.stc.StyledTextCtrl: line from 1 and column
    in characters, as the server takes them; caret is the editor's position (in bytes) and
    before the caret line's text up to the caret."""
    caret = editor.GetCurrentPos()
    line = editor.LineFromPosition(caret)
    before = editor.GetTextRange(editor.PositionFromLine(line), caret)
    return editor.GetText(), line + 1, len(before), caret, before


def show(editor, caret, before, prefix_len, items, calltip):
    """Shows the list, or the call tip when nothing of a word is typed yet (the editor shows
    one or the other, never both)."""
    if items and (prefix_len or not calltip):
        typed = before[len(before) - prefix_len :] if prefix_len else ""
        editor.AutoCompSetSeparator(ord(" "))
        editor.AutoCompSetIgnoreCase(True)
        # The items come in jedi's order; the control keeps it and searches a sorted index of
        # its own.
        editor.AutoCompSetOrder(2)  # wx.stc.STC_ORDER_CUSTOM
        editor.AutoCompSetDropRestOfWord(True)
        # The editor counts the typed part in bytes of its UTF-8 text.
        editor.AutoCompShow(len(typed.encode("utf-8")), " ".join(items))
    elif calltip:
        editor.CallTipShow(caret, calltip)


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
        return
    text, line, column, caret, before = request_from_editor(editor)
    answer = ask(
        {
            "text": text,
            "line": line,
            "column": column,
            "path": _document_path(management),
            "sys_path": [folder for folder in sys.path if isinstance(folder, str)],
        }
    )
    if answer is None:
        return
    items = [item for item in answer.get("items") or () if isinstance(item, str)]
    show(editor, caret, before, int(answer.get("prefix_len") or 0), items, answer.get("calltip"))
