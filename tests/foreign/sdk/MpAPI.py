"""MpAPI: the editor's Python module, in Python.

Scripts reach the editor through it in the flat form `Class_Get()`: the message output, the
current editor and the main window. What is appended to the message output is kept in
`CMessageOutput.texts`, written to the real standard error (the descriptor named by
MARROWPAD_STDERR_FD, since a plug-in may make descriptor 2 its own) and, when MARROWPAD_OUTPUT_LOG
names a file, appended to it.
"""
import os
import threading

import wx
import wx.stc  # the current editor is wrapped as the styled text control it is

_APP_WINDOW_NAME = 'MarrowpadMainFrame'
_CURRENT_EDITOR_NAME = 'MarrowpadCurrentDocument'


class CMessageOutput:
	def __init__(self):
		self.texts = []
		self._lock = threading.Lock()

	def Append(self, text):
		text = str(text)
		with self._lock:
			self.texts.append(text)
			log = os.environ.get('MARROWPAD_OUTPUT_LOG')
			if log:
				with open(log, 'a', encoding='utf-8', errors='replace') as file:
					file.write(text)
			try:
				fd = int(os.environ.get('MARROWPAD_STDERR_FD', '2'))
				os.write(fd, text.encode('utf-8', 'replace'))
			except (OSError, ValueError):
				pass


class CMessageOutputManagement:
	def __init__(self):
		self._outputs = {}

	def GetMessageOutput(self, index):
		if index < 0 or index >= 16:
			return None
		return self._outputs.setdefault(index, CMessageOutput())


class CAppManagement:
	def GetAppWindow(self):
		for window in wx.GetTopLevelWindows():
			if window.GetName() == _APP_WINDOW_NAME:
				return window
		return None


class CEditorManagement:
	def GetCurrentEditor(self):
		return wx.FindWindowByName(_CURRENT_EDITOR_NAME)


_messageOutputManagement = CMessageOutputManagement()
_appManagement = CAppManagement()
_editorManagement = CEditorManagement()


def CMessageOutputManagement_Get():
	return _messageOutputManagement


def CAppManagement_Get():
	return _appManagement


def CEditorManagement_Get():
	return _editorManagement
