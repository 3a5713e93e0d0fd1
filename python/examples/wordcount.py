"""Counts the lines, words and characters of the current document (or of its selection)."""

import MpAPI


def count(text):
    """Returns (lines, words, characters) of a text."""
    lines = text.count("\n") + (1 if text and not text.endswith("\n") else 0)
    return lines, len(text.split()), len(text)


def MpMain():
    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()
    if editor is None:
        print("wordcount: no document is open.")
        return
    text = editor.GetSelectedText() or editor.GetText()
    what = "selection" if editor.GetSelectedText() else "document"
    lines, words, characters = count(text)
    print("wordcount: the %s has %d lines, %d words and %d characters."
          % (what, lines, words, characters))
