import sys, time
import faulthandler, functools, importlib.machinery, io, os, threading, traceback, types
import wx

# Functions of the engine, put here before this script runs:
#   coilhatchDrainPipe(): hands what the output pipe holds to the message output now
#   coilhatchUnfinishedLine() -> the text after the last line feed that reached the output
#   coilhatchOutputDescriptor() -> the output pipe's own write end (not 1 or 2), or -1
#   coilhatchOutputIsTerminal() -> whether the output is read as on a terminal (by lines)
#   coilhatchLastWord(type): one line naming the exception type in the output, or on the
#       editor's standard error, written without taking memory
#   coilhatchSetAssertMode(mode): how toolkit assertions that fail in Python's calls are told

class scriptLoader:
	"""Loads each script from its own file, under a module named after the file.

	The module is kept per file for the life of the interpreter. Its top level runs when the
	file is loaded for the first time and, on a run with reload, again, from a code object kept
	while the file's size and modification time stay the same; the module search path is never
	searched for it.

	sys.modules holds a script's module under its name only when nothing else claims that name:
	when the name was free at the first load and an import statement would find this very file
	(its folder comes first on the module path for that name), or when sys.modules already held
	a module of this file, which then becomes the script's module. Otherwise (a standard module
	of that name, another script of the same name, a name with a dot) the script runs in a module
	of its own that import statements do not see. A first load that fails leaves nothing behind.
	"""

	def __init__(self):
		# The absolute path of each script loaded -> [module, loader, (size, mtime_ns), code].
		self.scripts = {}

	def load(self, path, name, reload):
		"""The module of the script at the absolute path, its top level run as described above."""
		entry = self.scripts.get(path)
		if entry is None:
			return self.loadFirst(path, name)
		if reload:
			self.execute(entry)
		return entry[0]

	def loadFirst(self, path, name):
		# Whatever its extension, a script is Python source.
		loader = importlib.machinery.SourceFileLoader(name, path)
		held = sys.modules.get(name)
		if held is not None and self.isFile(getattr(held, '__file__', None), path):
			# An import statement loaded this very file before its first run as a script.
			self.scripts[path] = [held, loader, None, None]
			return held
		module = types.ModuleType(name)
		module.__file__ = path
		module.__loader__ = loader
		entry = [module, loader, None, None]
		registered = held is None and self.importFinds(name, path)
		if registered:
			sys.modules[name] = module
		try:
			self.execute(entry)
		except BaseException:
			if registered and sys.modules.get(name) is module:
				del sys.modules[name]
			raise
		self.scripts[path] = entry
		return module

	@staticmethod
	def execute(entry):
		module, loader, key, code = entry
		stat = os.stat(loader.path)
		now = (stat.st_size, stat.st_mtime_ns)
		if now != key:
			# Compiled from the source itself: a cached .pyc tells changes only to the second.
			code = loader.source_to_code(loader.get_data(loader.path), loader.path)
			entry[2] = now
			entry[3] = code
		exec(code, module.__dict__)

	@staticmethod
	def isFile(file, path):
		if not isinstance(file, str):
			return False
		try:
			return os.path.abspath(file) == path or os.path.samefile(file, path)
		except (OSError, ValueError):
			return False

	@classmethod
	def importFinds(cls, name, path):
		"""Whether an import statement for the name would load the file at path: the first folder
		of the module path that holds a package or module of that name (in the order the import
		system tries them) holds this very file. Built-in modules are never a script's."""
		if '.' in name or name in sys.builtin_module_names:
			return False
		suffixes = (importlib.machinery.EXTENSION_SUFFIXES + importlib.machinery.SOURCE_SUFFIXES
			+ importlib.machinery.BYTECODE_SUFFIXES)
		for folder in sys.path:
			if any(folder is front for front in cls.frontFolders):
				continue  # a running script's folder, searched first only while it runs
			folder = folder if isinstance(folder, str) and folder else os.getcwd()
			if any(os.path.isfile(os.path.join(folder, name, '__init__' + s)) for s in suffixes):
				return False
			for suffix in suffixes:
				candidate = os.path.join(folder, name + suffix)
				if os.path.isfile(candidate):
					return cls.isFile(candidate, path)
		return False

	# The folders put first on sys.path for a run, each an object of its own (told apart from an
	# equal entry by identity).
	frontFolders = []

	@classmethod
	def putFirst(cls, folder):
		"""Puts the folder of a script that starts to run first on sys.path, as python3 does for
		the script it runs, so that the modules beside it win; takeAway ends that."""
		entry = ''.join((folder, ''))  # a new object
		cls.frontFolders.append(entry)
		sys.path.insert(0, entry)
		return entry

	@classmethod
	def takeAway(cls, entry):
		for i, folder in enumerate(sys.path):
			if folder is entry:
				del sys.path[i]
				break
		for i, front in enumerate(cls.frontFolders):
			if front is entry:
				del cls.frontFolders[i]
				break

try:
	coilhatchScripts
except NameError:
	# A later attach in the same process keeps the scripts loaded before.
	coilhatchScripts = scriptLoader()

def placeLinelessEntries(tb):
	"""The traceback, its entries whose instruction has no line of its own (a loop's jump back,
	where a stop often comes) given the line the instruction jumps to, or else the line of the
	nearest instruction before it; the traceback as it is when every entry has its line."""
	entries = []
	while tb is not None:
		entries.append(tb)
		tb = tb.tb_next
	if all(entry.tb_lineno is not None and entry.tb_lineno >= 0 for entry in entries):
		return entries[0] if entries else None
	import dis
	placed = None
	for entry in reversed(entries):
		line = entry.tb_lineno
		if line is None or line < 0:
			line = lineOfInstruction(dis, entry.tb_frame.f_code, entry.tb_lasti)
		placed = types.TracebackType(placed, entry.tb_frame, entry.tb_lasti, line)
	return placed

def lineOfInstruction(dis, code, offset):
	instructions = list(dis.get_instructions(code))
	byOffset = {instruction.offset: instruction for instruction in instructions}
	here = byOffset.get(offset)
	if here is not None and here.opcode in dis.hasjrel + dis.hasjabs:
		target = byOffset.get(here.argval)
		if target is not None and target.positions.lineno is not None:
			return target.positions.lineno
	before = [i.positions.lineno for i in instructions
		if i.offset <= offset and i.positions.lineno is not None]
	return before[-1] if before else code.co_firstlineno

def closeReport(stream):
	"""sys.stderr.showmsg(): closes a failure report with the time, then a separator line. Each
	ends its line, so that the next output starts on a line of its own."""
	stream.write(time.ctime() + '\n')
	stream.write('--------------------------------------------------\n')
	stream.flush()


class TextIOWrapper(io.TextIOWrapper):
	"""sys.stdout and sys.stderr: Python's text stream, whose flush() also hands what the output
	pipe holds to the message output, as a flush reaches the terminal outside: once print(...,
	flush=True) returns, the text is shown (and kept, should the process be killed next)."""

	def flush(self):
		super().flush()
		coilhatchDrainPipe()


class inputBytes(io.RawIOBase):
	"""The bytes behind sys.stdin: the read end of the engine's input pipe, which the text-entry
	dialog feeds a line at a time (see inputPipe)."""

	name = '<stdin>'

	def __init__(self, pipe):
		self.pipe = pipe

	def readable(self):
		return True

	def isatty(self):
		return False

	def fileno(self):
		if self.closed:
			raise ValueError('I/O operation on closed file')
		return self.pipe.readEnd

	def readinto(self, buffer):
		if self.closed:
			raise ValueError('I/O operation on closed file')
		return self.pipe.readinto(buffer)


class inputPipe:
	"""Standard input that never reads the editor's own: a pipe whose read end is sys.stdin's
	descriptor. A read that finds it empty asks the user for a line in a text-entry dialog that
	shows the prompt (what input() wrote on the output's current line), and the answer goes into
	the pipe. The answer is echoed to the output, as a terminal would show it. Cancel ends that
	read: readline() returns '' and input() raises EOFError; the next read asks again. Both ends
	are non-blocking, so that a read of the descriptor itself (os.read) never waits for an answer
	nobody is asked for."""

	caption = 'Python Script'

	def __init__(self, streams):
		self.streams = streams
		self.readEnd, self.writeEnd = os.pipe()
		os.set_blocking(self.readEnd, False)
		os.set_blocking(self.writeEnd, False)
		self.pending = b''  # answered, and more than the pipe took

	def readinto(self, buffer):
		while True:
			self.feed()
			try:
				data = os.read(self.readEnd, len(buffer))
			except BlockingIOError:
				data = None
			if data:
				buffer[:len(data)] = data
				return len(data)
			if self.pending:
				continue
			answer = self.ask()
			if answer is None:
				return 0
			encoding, errors = self.streams.encodings[0]
			self.pending = (answer + '\n').encode(encoding, errors)

	def feed(self):
		while self.pending:
			try:
				written = os.write(self.writeEnd, self.pending)
			except BlockingIOError:
				return
			self.pending = self.pending[written:]

	def ask(self):
		# The prompt is on the output's current line once everything written has reached it.
		self.streams.flush()
		coilhatchDrainPipe()
		prompt = coilhatchUnfinishedLine()
		if wx.IsMainThread():
			return self.askUser(prompt)
		# A dialog belongs to the user-interface thread: it asks there, when it is free.
		done = threading.Event()
		answer = [None]
		def askThere():
			try:
				answer[0] = self.askUser(prompt)
			finally:
				done.set()
		wx.CallAfter(askThere)
		done.wait()
		return answer[0]

	def askUser(self, prompt):
		parent = MpAPI.CAppManagement_Get().GetAppWindow()
		dialog = wx.TextEntryDialog(parent, prompt or 'Input:', self.caption)
		try:
			if dialog.ShowModal() != wx.ID_OK:
				return None
			answer = dialog.GetValue()
		finally:
			dialog.Destroy()
		self.streams.stdout.write(answer + '\n')
		self.streams.stdout.flush()
		return answer


class scriptStreams:
	"""The standard streams of scripts, as Python builds them. sys.stdout and sys.stderr are
	io.TextIOWrappers over descriptors 1 and 2 (and sys.__stdout__, sys.__stderr__), which the
	engine makes its output pipe, so that what children and C code write there reaches the
	message output too, in order with them. As python3 buffers them: sys.stderr by lines;
	sys.stdout by lines where the output is read as on a terminal (the editor's pane, or batch
	mode writing to a terminal), by blocks otherwise (batch mode to a pipe or a file), and not at
	all under PYTHONUNBUFFERED or -u. sys.stdin is one over
	the input pipe's read end (see inputPipe). A script may close or replace them for its own run:
	restore() puts them back, or new ones made alike, before the next."""

	def __init__(self):
		# What Python chose for each descriptor: encoding, errors (and write-through, for -u).
		self.encodings = {}
		self.writeThrough = False
		for fd, own in ((0, sys.__stdin__), (1, sys.__stdout__), (2, sys.__stderr__)):
			if own is not None:
				self.encodings[fd] = (own.encoding, own.errors)
				self.writeThrough = self.writeThrough or getattr(own, 'write_through', False)
			else:
				self.encodings[fd] = (sys.getfilesystemencoding(),
					'backslashreplace' if fd == 2 else sys.getfilesystemencodeerrors())
		# Python's own streams, kept: the process's descriptor 0 is a forked child's standard
		# input.
		self.pythons = (sys.__stdin__, sys.__stdout__, sys.__stderr__)
		self.processStdin = sys.__stdin__
		self.input = inputPipe(self)
		self.stdin = self.stdout = self.stderr = None
		self.restore()

	def restore(self):
		if not self.usable(self.stdout, 1):
			self.stdout = self.output(1)
		if not self.usable(self.stderr, 2):
			self.stderr = self.output(2)
		if self.stdin is None or self.stdin.closed:
			self.stdin = self.makeInput()
		sys.stdin = sys.__stdin__ = self.stdin
		sys.stdout = sys.__stdout__ = self.stdout
		sys.stderr = sys.__stderr__ = self.stderr

	@staticmethod
	def usable(stream, fd):
		try:
			return stream is not None and not stream.closed and stream.fileno() == fd
		except (AttributeError, OSError, ValueError):
			return False

	def output(self, fd):
		"""A stream over the descriptor made as Python makes sys.stdout or sys.stderr (closing it
		leaves the descriptor open). Made anew rather than Python's own, which judged the
		descriptor as it was before it was the pipe (a file can seek, a pipe not)."""
		raw = io.FileIO(fd, 'wb', closefd=False)
		raw.name = '<stdout>' if fd == 1 else '<stderr>'
		encoding, errors = self.encodings[fd]
		lines = fd == 2 or coilhatchOutputIsTerminal()
		stream = TextIOWrapper(raw if self.writeThrough else io.BufferedWriter(raw), encoding,
			errors, newline='\n', line_buffering=lines, write_through=self.writeThrough)
		stream.mode = 'w'
		if fd == 2:
			stream.showmsg = functools.partial(closeReport, stream)
		return stream

	def makeInput(self):
		encoding, errors = self.encodings[0]
		stream = io.TextIOWrapper(io.BufferedReader(inputBytes(self.input)), encoding, errors,
			newline='\n')
		stream.mode = 'r'
		return stream

	def byLines(self):
		"""Standard output buffered by lines from now on (the plug-in has been released)."""
		try:
			self.stdout.reconfigure(line_buffering=True)
		except Exception:
			pass

	def flush(self):
		for stream in (sys.stdout, self.stdout, self.stderr):
			try:
				stream.flush()
			except Exception:
				# A stream that a script closed or broke has nothing to give; it says so itself
				# at its next use.
				pass


try:
	coilhatchStreams
except NameError:
	# Once per process: a later attach keeps the streams and the input pipe.
	coilhatchStreams = scriptStreams()
coilhatchStreams.restore()

import MpAPI


def keepOrderWithTheStreams():
	"""The editor's Append, called by a script, comes after what the script wrote to the standard
	streams before it, as it did when they wrote through Append: the streams' text goes through
	the output pipe and a moment later, Append's at once. An output object whose class cannot
	take the wrapper keeps its own Append."""
	try:
		kind = type(MpAPI.CMessageOutputManagement_Get().GetMessageOutput(0))
		append = kind.Append
	except Exception:
		return  # no output to keep in order with: the start-up script's own use tells why
	if getattr(append, 'coilhatchOrdered', False):
		return

	@functools.wraps(append)
	def Append(self, *args, **kwds):
		coilhatchStreams.flush()
		return append(self, *args, **kwds)

	Append.coilhatchOrdered = True
	try:
		kind.Append = Append
	except (AttributeError, TypeError):
		pass  # an immutable class: its Append stays


keepOrderWithTheStreams()


def reportThreadFailure(args):
	"""threading.excepthook: Python's own report of a thread that ended in an exception, sure to
	reach the output. Where Python's cannot write it (sys.stderr is gone or broken, descriptor 2
	closed, or memory ran out while the thread's frames still hold it), the report goes to the
	output pipe's own descriptor, once those frames let go of what they hold; where even that
	fails, one line that names the exception goes to the output, or to the editor's standard
	error."""
	try:
		if getattr(sys, 'stderr', None) is not None:
			coilhatchPythonsThreadHook(args)
			return
	except BaseException:
		pass  # written again below, with less memory in use
	try:
		# What Python's hook left in our stream's buffer (the report's head) would come again
		# at its next flush: the stream is dropped unflushed (its descriptor stays open), and a
		# new one takes its place.
		broken = coilhatchStreams.stderr
		if getattr(sys, 'stderr', None) is broken and broken is not None:
			try:
				broken.buffer.raw.close()
				coilhatchStreams.restore()
			except Exception:
				pass  # descriptor 2 is closed: the next run's restore makes the stream
		if args.exc_traceback is not None:
			traceback.clear_frames(args.exc_traceback)
		coilhatchStreams.flush()
		name = args.thread.name if args.thread is not None else threading.get_ident()
		text = 'Exception in thread %s:\n' % name + ''.join(traceback.format_exception(
			args.exc_type, args.exc_value, args.exc_traceback))
		data = text.encode('utf-8', 'backslashreplace')
		fd = coilhatchOutputDescriptor()
		while data:
			data = data[os.write(fd, data):]
	except BaseException:
		coilhatchLastWord(args.exc_type)


try:
	coilhatchPythonsThreadHook
except NameError:
	coilhatchPythonsThreadHook = threading.__excepthook__
threading.excepthook = reportThreadFailure


def forkedChild():
	"""In a child that a script made with os.fork() (or pty.fork()): standard input is the
	process's own descriptor 0, as in any Python program; standard output and error stay
	descriptors 1 and 2, which reach the editor's message output. Fatal errors are reported on
	the child's own standard error. Nothing here touches the toolkit."""
	sys.stdin = sys.__stdin__ = coilhatchStreams.processStdin
	if faulthandler.is_enabled() and sys.__stderr__ is not None:
		faulthandler.enable(sys.__stderr__, all_threads=True)


def beforeFork():
	# The child gets the streams of the process: what they buffer must not be written twice.
	coilhatchStreams.flush()


try:
	coilhatchPythonsExit
except NameError:
	coilhatchPythonsExit = os._exit

@functools.wraps(coilhatchPythonsExit)
def exitNow(status):
	# What the standard streams buffer is written first (python3 would lose it; the editor's
	# process loses nothing, and a forked child buffers only its own: the streams are flushed
	# before a fork). What was written to descriptors 1 and 2 is in the output pipe still: it
	# reaches the output first, as it reaches a terminal outside.
	coilhatchStreams.flush()
	coilhatchDrainPipe()
	coilhatchPythonsExit(status)

os._exit = exitNow


try:
	coilhatchForkHooks
except NameError:
	# Once per process: a later attach finds them in place.
	coilhatchForkHooks = (beforeFork, forkedChild)
	os.register_at_fork(before=lambda: coilhatchForkHooks[0](),
			after_in_child=lambda: coilhatchForkHooks[1]())


class editorApplication:
	"""What wx.App is in the editor, whose one application is its own (a C++ wxApp that wxPython
	did not make). wx.App() and wx.App subclasses give that application, as wx.GetApp() does:
	the wrapper wxPython keeps for it (the engine holds it for good) takes the class asked for,
	and __init__ runs OnPreInit and OnInit, as wx.App's does, but makes no second application.
	MainLoop() returns at once, since the editor's loop runs already; the editor's top window
	and its exit on the last frame's close stay the editor's. The methods of wxPython's own C++
	application, which the editor's has not, are answered here."""

	assertMode = wx.APP_ASSERT_EXCEPTION
	stdioWin = None

	@staticmethod
	def __new__(cls, *args, **kwds):
		app = coilhatchWxGetApp()
		if app is None:
			raise RuntimeError('the editor has no application')
		app.__class__ = cls
		return app

	def __init__(self, redirect=False, filename=None, useBestVisual=False, clearSigInt=True):
		# SIGINT stays Python's while the script runs, and the editor's after.
		self.stdioWin = None
		self.saveStdio = (sys.stdout, sys.stderr)
		if redirect:
			self.RedirectStdio(filename)
		self.OnPreInit()
		if not self.OnInit():
			raise SystemExit('OnInit returned false, exiting...')

	def OnInit(self):
		return True

	def OnInitGui(self):
		return True

	def OnRun(self):
		return 0

	def OnExit(self):
		return 0

	def MainLoop(self):
		return 0

	def _BootstrapApp(self):
		raise RuntimeError("the editor's application runs already")

	def GetTopWindow(self):
		window = MpAPI.CAppManagement_Get().GetAppWindow()
		return window if window else wx.PyApp.GetTopWindow(self)

	def SetTopWindow(self, frame):
		pass

	TopWindow = property(GetTopWindow, SetTopWindow)

	def SetExitOnFrameDelete(self, flag):
		pass

	def GetAssertMode(self):
		return editorApplication.assertMode

	def SetAssertMode(self, mode):
		editorApplication.assertMode = mode
		coilhatchSetAssertMode(mode)

	AssertMode = property(GetAssertMode, SetAssertMode)

	def __del__(self):
		pass


try:
	coilhatchWxGetApp
except NameError:
	# wxPython's own, kept once per process: a later attach finds wx.GetApp replaced.
	coilhatchWxGetApp = sys.modules['wx._core'].GetApp

for name, value in vars(editorApplication).items():
	if not name.startswith('__') or name in ('__new__', '__init__', '__del__'):
		setattr(wx.App, name, value)
coilhatchSetAssertMode(editorApplication.assertMode)


def editorApp():
	"""The editor's application, a wx.App (see editorApplication)."""
	app = coilhatchWxGetApp()
	if app is not None and not isinstance(app, wx.App):
		app.__class__ = wx.App
	return app


# As wx.App does before a wxPython program's OnInit: the stock colours, pens, brushes, fonts
# and cursors (wx.BLACK, wx.NORMAL_FONT, ...) are made valid.
if editorApp() is not None:
	wx.StockGDI._initStockObjects()
wx.GetApp = sys.modules['wx.core'].GetApp = editorApp


def editorsOwnWindow(window):
	"""What the window is to the editor, when it is one the editor cannot do without: its main
	window or that window's menu bar. None otherwise."""
	try:
		frame = MpAPI.CAppManagement_Get().GetAppWindow()
		if frame is None or window is None:
			return None
		if window is frame:
			return "main window"
		if isinstance(window, wx.MenuBar) and window is frame.GetMenuBar():
			return "menu bar"
	except Exception:
		pass  # an editor without a main window now, or one already gone
	return None


def refuseEditorsOwn(window):
	"""Raises RuntimeError when the window is the editor's main window or menu bar."""
	what = editorsOwnWindow(window)
	if what == "main window":
		raise RuntimeError("the editor's main window is not destroyed by scripts: "
			"Close() it, or call wx.Exit(), to end the editor")
	if what:
		raise RuntimeError("the editor's menu bar is not destroyed by scripts: "
			"its menus may be changed, and the bar stays")


def keepEditorsOwn(destroy):
	"""Destroy as it was, refused for the editor's main window and menu bar: the editor and the
	plug-in still hold them (a dialog open over the window, the plug-in's submenu in the bar), and
	their memory would be freed under them. Close() (or wx.Exit()) ends the editor instead."""
	if getattr(destroy, 'coilhatchKept', False):
		return destroy

	@functools.wraps(destroy)
	def kept(self, *args, **kwds):
		refuseEditorsOwn(self)
		# Bound, as self.Destroy() binds it: the toolkit's call is then its virtual one (a window
		# given to its class's function explicitly would bypass a top-level window's own).
		return destroy.__get__(self, type(self))(*args, **kwds)
	kept.coilhatchKept = True
	return kept


for cls in (wx.Window, wx.NonOwnedWindow, wx.TopLevelWindow, wx.Frame):
	for name in ('Destroy', 'DestroyLater'):
		if name in vars(cls):
			setattr(cls, name, keepEditorsOwn(vars(cls)[name]))


def keepEditorsOwnFromSchedule(schedule):
	"""The application's ScheduleForDestruction, refused for the editor's own windows as Destroy
	is."""
	if getattr(schedule, 'coilhatchKept', False):
		return schedule

	@functools.wraps(schedule)
	def kept(app, window):
		refuseEditorsOwn(window)
		return schedule.__get__(app, type(app))(window)
	kept.coilhatchKept = True
	return kept


for cls in wx.PyApp.__mro__:
	if 'ScheduleForDestruction' in vars(cls):
		cls.ScheduleForDestruction = keepEditorsOwnFromSchedule(vars(cls)['ScheduleForDestruction'])
		break


def modalDialogs():
	return [window for window in wx.GetTopLevelWindows()
			if isinstance(window, wx.Dialog) and window.IsModal()]


def endingDialogsFirst(exit):
	"""wx.Exit() and ExitMainLoop() as they were, except while a modal dialog (Script Management, a
	script's own) is open: the application's main loop, which they end, is not the one running
	then, and the editor would never end. The dialogs are ended first (what they changed is kept
	as when they close), and the exit is asked for once they are gone."""
	if getattr(exit, 'coilhatchKept', False):
		return exit

	@functools.wraps(exit)
	def ending(*args):
		dialogs = modalDialogs()
		if not dialogs:
			return exit(*args)
		for dialog in reversed(dialogs):
			dialog.EndModal(wx.ID_CANCEL)

		# Once no dialog is modal, one more turn: the loops that ran them have returned by then.
		def onceDialogsEnded():
			if modalDialogs():
				wx.CallLater(10, onceDialogsEnded)
			else:
				wx.CallAfter(exit, *args)
		wx.CallAfter(onceDialogsEnded)
	ending.coilhatchKept = True
	return ending


wx.Exit = sys.modules['wx.core'].Exit = endingDialogsFirst(wx.Exit)


def toolkitsExitMainLoop(app):
	"""The application's ExitMainLoop, called as app.ExitMainLoop() calls it: virtually, so that
	the editor's own is the one that runs."""
	for cls in wx.PyApp.__mro__:
		if 'ExitMainLoop' in vars(cls):
			return vars(cls)['ExitMainLoop'].__get__(app, type(app))()


wx.App.ExitMainLoop = endingDialogsFirst(toolkitsExitMainLoop)
