"""Takes the README's pictures of the Output pane, the Stop window, the message box of a script
whose load fails, and Script Management.

scripts/screenshots.sh runs it inside the editor, as a script of the scripts folder, with the
examples registered as scripts/run.sh registers them. It drives the editor through its menus
and writes the pictures into the folder named by SHOTS_DIR.
"""

import os
import struct
import sys
import traceback
import subprocess

import wx

import MpAPI

shots = os.environ.get('SHOTS_DIR', '.')
frame = MpAPI.CAppManagement_Get().GetAppWindow()

sample = '''"""Notes for the week."""

tasks = ["write the report", "review the plug-in", "plan the release"]
for number, task in enumerate(tasks, 1):
    print(number, task)
'''


def choose(label):
    """Chooses the item of Tools > Python Script with that label, as a click does."""
    item = frame.GetMenuBar().FindMenuItem('Tools', label)
    wx.PostEvent(frame, wx.CommandEvent(wx.wxEVT_MENU, item))


def grab(window, name):
    try:
        take(window, name)
    except Exception:
        # Told where the person who runs the script sees it.
        traceback.print_exc(file=sys.__stderr__)


def take(window, name):
    """Writes what the screen shows of the window (and what lies on it) as a PNG file. The
    screen is the virtual display's screen memory named by SHOTS_SCREEN (an XWD file), or else
    what xwd (Debian's x11-apps) reads: the toolkit's own screen reading misses dialogs, and xwd
    misses a window that lies wholly inside another one."""
    for shown in wx.GetTopLevelWindows():
        shown.Update()
    rect = window.GetScreenRect()
    screen = os.environ.get('SHOTS_SCREEN')
    if screen:
        with open(screen, 'rb') as memory:
            dump = memory.read()
    else:
        dump = subprocess.run(['xwd', '-root', '-silent'], check=True,
                              stdout=subprocess.PIPE).stdout
    fields = struct.unpack('>25I', dump[:100])
    headerSize, width, height = fields[0], fields[4], fields[5]
    byteOrder, bitsPerPixel, bytesPerLine, colours = fields[7], fields[11], fields[12], fields[19]
    if bitsPerPixel not in (24, 32) or byteOrder != 0:
        raise RuntimeError('the screen has %d bits per pixel in byte order %d'
                           % (bitsPerPixel, byteOrder))
    step = bitsPerPixel // 8
    pixels = dump[headerSize + 12 * colours:]
    rgb = bytearray()
    for y in range(rect.y, min(rect.y + rect.height, height)):
        row = pixels[y * bytesPerLine:(y + 1) * bytesPerLine]
        for x in range(rect.x, min(rect.x + rect.width, width)):
            blue, green, red = row[step * x], row[step * x + 1], row[step * x + 2]
            rgb += bytes((red, green, blue))
    bitmap = wx.Bitmap.FromBuffer(min(rect.width, width - rect.x),
                                  min(rect.height, height - rect.y), bytes(rgb))
    bitmap.SaveFile(os.path.join(shots, name), wx.BITMAP_TYPE_PNG)


def pane():
    return wx.FindWindowByName('output')


def document():
    MpAPI.CEditorManagement_Get().GetCurrentEditor().SetText(sample)
    for label in ('hello', 'wordcount', 'hello', 'wordcount', 'hello'):
        choose(label)


def scrollUp():
    output = pane()
    output.SetFirstVisibleLine(max(0, output.GetLineCount() - output.LinesOnScreen() - 4))
    choose('wordcount')


def goToNewOutput():
    marker = wx.FindWindowByName('newOutputMarker')
    marker.GetEventHandler().ProcessEvent(wx.CommandEvent(wx.wxEVT_BUTTON, marker.GetId()))


def stopWindow():
    """The shown window with a Stop button."""
    for window in wx.GetTopLevelWindows():
        if isinstance(window, wx.Dialog) and window.IsShown():
            button = window.FindWindow(wx.ID_CANCEL)
            if button and button.GetLabel() == 'Stop':
                return window, button
    return None, None


def loadFailed():
    """Runs the scripts folder's tidy.py, whose file holds a null byte: the message box that
    names it and tells why it failed is shot over the editor, then closed with Return. The box is
    the toolkit's own modal dialog, not a wx window; timers go on while it waits."""
    def shoot():
        grab(frame, 'load_failed.png')
        wx.UIActionSimulator().Char(wx.WXK_RETURN)
        wx.CallLater(1000, running)
    wx.CallLater(1500, shoot)
    choose('tidy')


def running():
    """Runs a long script; its Stop window is shot over the editor, then pressed."""
    def shoot():
        window, button = stopWindow()
        if window:
            grab(frame, 'stop.png')
            button.GetEventHandler().ProcessEvent(wx.CommandEvent(wx.wxEVT_BUTTON, button.GetId()))
        else:
            print('No Stop window came up', file=sys.__stderr__)
        wx.CallLater(1000, management)
    # Timers go on while the script runs: the editor handles its events meanwhile.
    wx.CallLater(2500, shoot)
    choose('countprimes')


def management():
    def shoot():
        for window in wx.GetTopLevelWindows():
            if isinstance(window, wx.Dialog) and window.IsShown():
                list = window.FindWindow(10001)
                list.SetSelection(1)
                list.GetEventHandler().ProcessEvent(
                    wx.CommandEvent(wx.wxEVT_LISTBOX, list.GetId()))
                wx.CallLater(300, lambda: (grab(window, 'dialog.png'), window.EndModal(wx.ID_OK),
                                           wx.CallLater(500, lambda: frame.Close(True))))
    wx.CallLater(500, shoot)
    choose('Script Management')


def MpMain():
    wx.PostEvent(frame, wx.CommandEvent(wx.wxEVT_MENU, wx.ID_NEW))
    wx.CallLater(500, document)
    wx.CallLater(1500, scrollUp)
    wx.CallLater(2300, lambda: grab(frame, 'output_new_below.png'))
    wx.CallLater(2450, goToNewOutput)
    wx.CallLater(3000, loadFailed)
