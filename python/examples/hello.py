"""Greets the user in the message output and tells what the editor has open.

Register it in Tools > Python Script > Script Management, or run scripts/run.sh, which
registers it on first start.
"""

import sys

import wx

import MpAPI


def MpMain():
    frame = MpAPI.CAppManagement_Get().GetAppWindow()
    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()
    print("Hello from Python %d.%d with wxPython %s." % (sys.version_info[0], sys.version_info[1],
                                                         wx.VERSION_STRING))
    print("The editor's window is titled %r." % frame.GetTitle())
    if editor is None:
        print("No document is open.")
    else:
        print("The current document has %d lines; the caret is on line %d."
              % (editor.GetLineCount(), editor.GetCurrentLine() + 1))
