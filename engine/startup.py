import sys, time
import collections, faulthandler, functools, importlib.machinery, io, os, threading, types
import wx

# Functions of the engine, put here before this script runs:
#   coilhatchOutputDescriptor(stream) -> the descriptor of the output pipe for stream 1 or 2
#   coilhatchAppendAfterPipe(append, text): append(text) after everything the pipe holds
#   coilhatchDrainPipe(): hands what the pipe holds to the message output

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

import MpAPI

class messageStream(io.TextIOBase):
	"""A text stream that hands every piece written to it to the editor's message output 0.

	Its descriptor (fileno()) is one of the engine's output pipe, made at the first call: bytes
	written there reach the same output, and once the pipe exists every piece written here comes
	after what the pipe held."""

	encoding = 'utf-8'
	errors = 'strict'
	# The engine's streams, which write through the pipe once it exists.
	streams = []

	stream = 1  # the descriptor it stands for: 1 standard output, 2 standard error

	def __init__(self):
		mom = MpAPI.CMessageOutputManagement_Get()
		self.ListOutput = mom.GetMessageOutput(0)
		# A write is a hot path: Append as a plain function, bound once, where the editor's module
		# offers one; Append itself everywhere else.
		appender = getattr(self.ListOutput, 'Appender', None)
		self.appendNow = appender() if appender is not None else self.ListOutput.Append
		self.append = self.appendNow
		self.rawBuffer = None
		# The latest pieces written: their unfinished line is the prompt that input() wrote.
		self.recent = collections.deque(maxlen=16)
		messageStream.streams.append(self)

	def write(self, msg):
		if msg.__class__ is not str and not isinstance(msg, str):
			raise TypeError('write() argument must be str, not ' + type(msg).__name__)
		if msg != "":
			self.append(msg)
			self.recent.append(msg)
		return len(msg)

	def flush(self):
		if self.append is not self.appendNow:
			coilhatchDrainPipe()

	def close(self):
		# The editor's output cannot be closed.
		pass

	def isatty(self):
		return False

	def readable(self):
		return False

	def writable(self):
		return True

	def seekable(self):
		return False

	def fileno(self):
		"""A descriptor whose bytes reach the message output, in order with what is written here."""
		fd = coilhatchOutputDescriptor(self.stream)
		for stream in messageStream.streams:
			if stream.append is stream.appendNow:
				stream.append = functools.partial(coilhatchAppendAfterPipe, stream.appendNow)
		return fd

	@property
	def buffer(self):
		"""Bytes written here reach the message output as through fileno()."""
		if self.rawBuffer is None:
			self.rawBuffer = io.FileIO(self.fileno(), 'wb', closefd=False)
		return self.rawBuffer

	def unfinishedLine(self):
		parts = []
		for piece in reversed(self.recent):
			if '\n' in piece:
				parts.append(piece.rpartition('\n')[2])
				break
			parts.append(piece)
		return ''.join(reversed(parts))

class errCatcher(messageStream):
	errors = 'backslashreplace'
	stream = 2

	# Closes a failure report: the time, then a separator line. Each ends its line, so that
	# the next output starts on a line of its own.
	def showmsg(self):
		self.append(time.ctime() + '\n')
		self.append('--------------------------------------------------\n')

class outCatcher(messageStream):
	pass

class inCatcher(io.TextIOBase):
	"""Standard input that never reads the editor's own: each line is asked of the user in a
	text-entry dialog showing the prompt (the unfinished line last written to standard output,
	as input() writes it). The answer is echoed to the output, as a terminal would show it.
	Cancel ends the input: readline() returns '' and input() raises EOFError."""

	encoding = 'utf-8'
	errors = 'strict'
	caption = 'Python Script'

	def __init__(self, output):
		self.output = output
		self.pending = ''
		self.bytes = inBytes(self)

	@property
	def buffer(self):
		"""The same input as bytes (argparse.FileType('rb') reads '-' there)."""
		return self.bytes

	def readline(self, size=-1):
		if size is None:
			size = -1
		if not self.pending:
			answer = self.ask()
			if answer is None:
				return ''
			self.pending = answer + '\n'
		if size < 0 or size >= len(self.pending):
			line, self.pending = self.pending, ''
		else:
			line, self.pending = self.pending[:size], self.pending[size:]
		return line

	def read(self, size=-1):
		if size is None:
			size = -1
		parts = []
		got = 0
		while size < 0 or got < size:
			line = self.readline(-1 if size < 0 else size - got)
			if not line:
				break
			parts.append(line)
			got += len(line)
		return ''.join(parts)

	def ask(self):
		prompt = self.output.unfinishedLine()
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
		self.output.write(answer + '\n')
		return answer

	def close(self):
		pass

	def isatty(self):
		return False

	def readable(self):
		return True

	def writable(self):
		return False

	def seekable(self):
		return False

class inBytes(io.BufferedIOBase):
	"""sys.stdin.buffer: the lines the user answers, encoded as UTF-8."""

	def __init__(self, text):
		self.text = text
		self.pending = b''

	def more(self):
		line = self.text.readline()
		self.pending += line.encode('utf-8')
		return bool(line)

	def take(self, size):
		data, self.pending = self.pending[:size], self.pending[size:]
		return data

	def read(self, size=-1):
		if size is None or size < 0:
			while self.more():
				pass
			return self.take(len(self.pending))
		while len(self.pending) < size and self.more():
			pass
		return self.take(size)

	def read1(self, size=-1):
		if not self.pending:
			self.more()
		return self.take(len(self.pending) if size is None or size < 0 else size)

	def readline(self, size=-1):
		if not self.pending:
			self.more()
		end = self.pending.find(b'\n') + 1 or len(self.pending)
		if size is not None and 0 <= size < end:
			end = size
		return self.take(end)

	def readinto(self, buffer):
		data = self.read1(len(buffer))
		buffer[:len(data)] = data
		return len(data)

	readinto1 = readinto

	def close(self):
		pass

	def isatty(self):
		return False

	def readable(self):
		return True

sys.stderr = errCatcher()
sys.stdout = outCatcher()
sys.stdin = inCatcher(sys.stdout)


def forkedChild():
	"""In a child that a script made with os.fork() (or pty.fork()): the standard streams are the
	process's own descriptors, as in any Python program, and fatal errors are reported on its own
	standard error. Nothing here touches the toolkit."""
	sys.stdin, sys.stdout, sys.stderr = sys.__stdin__, sys.__stdout__, sys.__stderr__
	if faulthandler.is_enabled() and sys.__stderr__ is not None:
		faulthandler.enable(sys.__stderr__, all_threads=True)


def beforeFork():
	# The child gets the streams of the process: what they buffer must not be written twice.
	for stream in (sys.__stdout__, sys.__stderr__):
		try:
			if stream is not None:
				stream.flush()
		except Exception:
			# A stream a script closed, or one past its pipe's end, has nothing to give the child;
			# the fork goes on, and the stream's own error shows at its next use.
			pass


try:
	coilhatchForkHooks
except NameError:
	# Once per process: a later attach finds them in place.
	coilhatchForkHooks = (beforeFork, forkedChild)
	os.register_at_fork(before=lambda: coilhatchForkHooks[0](),
			after_in_child=lambda: coilhatchForkHooks[1]())


class editorApplication(wx.App):
	"""What wx.GetApp() returns: the editor's own application (a C++ wxApp, not made by
	wxPython) seen through wx.App's interface. GetTopWindow() is the editor's main window;
	MainLoop() returns at once, since the editor's loop runs already. Nothing here makes a second
	application: the one object is the wrapper wxPython made for the running one."""

	stdioWin = None
	assertMode = wx.APP_ASSERT_EXCEPTION

	def __init__(self, *args, **kwds):
		raise TypeError("the editor's application exists already; wx.App() makes one of your own")

	def GetTopWindow(self):
		window = MpAPI.CAppManagement_Get().GetAppWindow()
		return window if window else wx.PyApp.GetTopWindow(self)

	TopWindow = property(GetTopWindow, wx.App.SetTopWindow)

	# wxPython's own application keeps these in members that the editor's has not.
	def GetAssertMode(self):
		return self.assertMode

	def SetAssertMode(self, mode):
		self.assertMode = mode

	AssertMode = property(GetAssertMode, SetAssertMode)

	def MainLoop(self):
		return 0

	def OnInit(self):
		return True

	def OnInitGui(self):
		return True

	def OnRun(self):
		return 0

	def OnExit(self):
		return 0

	def _BootstrapApp(self):
		raise RuntimeError("the editor's application runs already")


try:
	coilhatchWxGetApp
except NameError:
	# wxPython's own, kept once per process: a later attach finds wx.GetApp replaced.
	coilhatchWxGetApp = sys.modules['wx._core'].GetApp

def editorApp():
	"""The editor's application, a wx.App (see editorApplication)."""
	app = coilhatchWxGetApp()
	if app is not None and type(app) is not editorApplication:
		# The wrapper wxPython keeps for the application (the engine holds it for good, so it is
		# the one every call returns) becomes one of ours.
		app.__class__ = editorApplication
	return app


# As wx.App does before a wxPython program's OnInit: the stock colours, pens, brushes, fonts
# and cursors (wx.BLACK, wx.NORMAL_FONT, ...) are made valid.
if editorApp() is not None:
	wx.StockGDI._initStockObjects()
wx.GetApp = sys.modules['wx.core'].GetApp = editorApp

