"""The editor's Python console: wxPython's own shell in a window of the editor.

The console is a guest of the engine. Its commands see the editor (MpAPI, wx, editor, frame),
but it leaves nothing of its own behind for scripts: the standard streams are the engine's again
between commands and once the window closes, the built-in names stay as they are, and sys.exit()
typed into it closes the console, never the editor. Its names and its input history last for the
editor's run, across openings of the window.
"""

import builtins
import functools
import inspect
import sys
import types

import wx
import wx.py.interpreter
import wx.py.introspect
import wx.py.shell

import MpAPI

title = 'Python Console'

# The one console window, or None while it is closed.
window = None
# The commands typed, newest first, as the shell keeps them; they outlive the window.
history = []
# The names the commands see; made at the first opening.
namespace = None
# sys.stdin, sys.stdout and sys.stderr as the engine set them, taken when the window opens.
engineStreams = None


def formatargspec(args, varargs=None, varkw=None, defaults=None, kwonlyargs=(),
		kwonlydefaults=None, annotations={}):
	"""A signature as text, as inspect.formatargspec (gone since Python 3.11) wrote it:
	'(a, b=1, *args, c, **kwds)'."""
	def annotated(name):
		if name in annotations:
			return name + ': ' + inspect.formatannotation(annotations[name])
		return name
	parts = []
	firstDefault = len(args) - len(defaults or ())
	for i, arg in enumerate(args):
		part = annotated(arg)
		if defaults and i >= firstDefault:
			part += '=' + repr(defaults[i - firstDefault])
		parts.append(part)
	if varargs is not None:
		parts.append('*' + annotated(varargs))
	elif kwonlyargs:
		parts.append('*')
	for name in kwonlyargs or ():
		part = annotated(name)
		if kwonlydefaults and name in kwonlydefaults:
			part += '=' + repr(kwonlydefaults[name])
		parts.append(part)
	if varkw is not None:
		parts.append('**' + annotated(varkw))
	text = '(' + ', '.join(parts) + ')'
	if 'return' in annotations:
		text += ' -> ' + inspect.formatannotation(annotations['return'])
	return text


# The shell's call tips (shown when '(' is typed) are written with inspect.formatargspec. It gets
# an inspect of its own that has it; the inspect module that scripts import stays as it is.
if not hasattr(wx.py.introspect.inspect, 'formatargspec'):
	wx.py.introspect.inspect = types.SimpleNamespace(**vars(inspect), formatargspec=formatargspec)


def currentEditor():
	return MpAPI.CEditorManagement_Get().GetCurrentEditor()


class consoleInterpreter(wx.py.interpreter.Interpreter):
	"""The shell's interpreter, with `editor` bound to the current editor before each command
	and SystemExit closing the console instead of ending the editor."""

	def __init__(self, *args, rawin=None, **kwds):
		# The shell hands in its raw_input, which the base class would make a built-in name
		# of every script.
		super().__init__(*args, **kwds)

	def runsource(self, source):
		self.locals['editor'] = currentEditor()
		return super().runsource(source)

	def runcode(self, code):
		try:
			# A command that runs long can be stopped, as a script can (`watched` is the
			# engine's). No frame of ours comes between this one, which the traceback leaves
			# out, and the command's own.
			watched(functools.partial(exec, code, self.locals))
		except SystemExit:
			# Closed once the command is done, so that it still goes into the history.
			wx.CallAfter(close)
		except BaseException:
			self.showtraceback()


class consoleShell(wx.py.shell.Shell):
	def EnsureCaretVisible(self):
		# The shell asks for this a moment after each command: after exit() the window is gone.
		if self:
			super().EnsureCaretVisible()

	def setBuiltinKeywords(self):
		# The shell would bind exit, quit and close to texts (and add cd, ls, pwd, sx) in the
		# built-ins that every script shares.
		pass


def makeNamespace():
	return {
		'__name__': '__console__',
		'__doc__': None,
		'__builtins__': builtins,
		'MpAPI': MpAPI,
		'wx': wx,
		'editor': currentEditor(),
		'frame': MpAPI.CAppManagement_Get().GetAppWindow(),
	}


def show():
	"""Opens the console window, or brings it forward when it is open."""
	global window, namespace, engineStreams
	if window:
		if window.IsIconized():
			window.Iconize(False)
		window.Show()
		window.Raise()
		window.shell.SetFocus()
		return
	engineStreams = (sys.stdin, sys.stdout, sys.stderr)
	if namespace is None:
		namespace = makeNamespace()
	parent = MpAPI.CAppManagement_Get().GetAppWindow()
	namespace['frame'] = parent
	frame = wx.Frame(parent, title=title, size=(720, 460), name='coilhatchConsole')
	intro = 'editor (the current document), frame (the main window), MpAPI and wx are at hand.'
	shell = consoleShell(frame, introText=intro, locals=namespace,
		InterpClass=consoleInterpreter, execStartupScript=False)
	shell.history = list(history)
	frame.shell = shell
	frame.Bind(wx.EVT_CLOSE, onClose)
	window = frame
	frame.CentreOnParent()
	# The shell's streams take the place of the engine's only while a command runs.
	restoreStreams()
	frame.Show()
	shell.SetFocus()


def restoreStreams():
	if engineStreams is not None:
		sys.stdin, sys.stdout, sys.stderr = engineStreams


def close():
	"""Closes the console window, if it is open."""
	if window:
		window.Close(True)


def onClose(event):
	global window
	frame = event.GetEventObject()
	if frame is window:
		history[:] = frame.shell.history
		window = None
	restoreStreams()
	frame.Destroy()
