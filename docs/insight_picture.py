"""Takes docs/insight.png: a Python document with pyflakes' findings marked and the help of a wx
method where the mouse rests.

Run it at start in a real window under a virtual display, with the sample document open:

    xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/marrowpad --plugins-dir PLUGINS tool.py

where PLUGINS holds the built plug-in, its python/autocomplete folder and a Coilhatch.xml that
registers this file to run at start, and tool.py is SAMPLE below.
"""

import os

import MpAPI
import wx
import wx.stc

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "insight.png")

SAMPLE = '''"""Counts the words of the current document."""

import os
import MpAPI
import wx


def count_words(text):
    return len(text.split())


def MpMain():
    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()
    words = count_words(editor.GetText())
    frame = MpAPI.CAppManagement_Get().GetAppWindow()
    frame.SetStatusText("%d words" % wrods)
    wx.MessageBox("%d words" % words, "Word count")
'''


def MpMain():
    # The findings come once the server has checked the document.
    wx.CallLater(4000, hover)


def hover():
    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()
    editor.SetFocus()
    pos = editor.PositionFromLine(15) + len("    frame.Set")
    editor.GotoPos(editor.PositionFromLine(16))
    # The mouse rests on SetStatusText.
    event = wx.stc.StyledTextEvent(wx.stc.wxEVT_STC_DWELLSTART, editor.GetId())
    event.SetEventObject(editor)
    event.SetPosition(pos)
    event.SetX(editor.PointFromPosition(pos).x)
    event.SetY(editor.PointFromPosition(pos).y)
    editor.ProcessWindowEvent(event)
    wx.CallLater(2500, shoot)


def shoot():
    frame = MpAPI.CAppManagement_Get().GetAppWindow()
    rect = frame.GetScreenRect()
    bitmap = wx.Bitmap(rect.width, rect.height)
    memory = wx.MemoryDC(bitmap)
    memory.Blit(0, 0, rect.width, rect.height, wx.ScreenDC(), rect.x, rect.y)
    memory.SelectObject(wx.NullBitmap)
    bitmap.SaveFile(OUT, wx.BITMAP_TYPE_PNG)
    frame.Close()
