import sys, time
import codecs, collections, importlib.machinery, io, os, select, threading, types
import wx

sys.path.append('.')

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
			folder = folder if isinstance(folder, str) and folder else os.getcwd()
			if any(os.path.isfile(os.path.join(folder, name, '__init__' + s)) for s in suffixes):
				return False
			for suffix in suffixes:
				candidate = os.path.join(folder, name + suffix)
				if os.path.isfile(candidate):
					return cls.isFile(candidate, path)
		return False

try:
	coilhatchScripts
except NameError:
	# A later attach in the same process keeps the scripts loaded before.
	coilhatchScripts = scriptLoader()

import MpAPI

class outputPipe:
	"""A pipe whose bytes reach a message output, decoded as UTF-8 (an invalid sequence becomes
	U+FFFD; a character split between two reads survives). A daemon thread forwards them as they
	come; each write to the stream forwards what came before it first, so that text written
	both ways keeps its order."""

	def __init__(self, append):
		self.append = append
		self.lock = threading.Lock()
		self.decoder = codecs.getincrementaldecoder('utf-8')('replace')
		self.readEnd, self.writeEnd = os.pipe()
		os.set_blocking(self.readEnd, False)
		threading.Thread(target=self.forwardForever, name='Coilhatch output pipe',
				daemon=True).start()

	def forward(self):
		with self.lock:
			# Bounded, so that a writer that never pauses cannot hold the caller here.
			for _ in range(64):
				try:
					data = os.read(self.readEnd, 65536)
				except BlockingIOError:
					return
				text = self.decoder.decode(data)
				if text:
					self.append(text)

	def forwardForever(self):
		poller = select.poll()
		poller.register(self.readEnd, select.POLLIN)
		while True:
			poller.poll()
			self.forward()

class messageStream(io.TextIOBase):
	"""A text stream that hands every piece written to it to the editor's message output 0."""

	encoding = 'utf-8'
	errors = 'strict'
	pipeLock = threading.RLock()

	def __init__(self):
		mom = MpAPI.CMessageOutputManagement_Get()
		self.ListOutput = mom.GetMessageOutput(0)
		# A write is a hot path: Append as a plain function, bound once.
		self.append = self.ListOutput.Appender()
		self.pipe = None
		self.rawBuffer = None
		# The latest pieces written: their unfinished line is the prompt that input() wrote.
		self.recent = collections.deque(maxlen=16)

	def write(self, msg):
		if msg.__class__ is not str and not isinstance(msg, str):
			raise TypeError('write() argument must be str, not ' + type(msg).__name__)
		if self.pipe is not None:
			self.pipe.forward()
		if msg != "":
			self.append(msg)
			self.recent.append(msg)
		return len(msg)

	def flush(self):
		if self.pipe is not None:
			self.pipe.forward()

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
		"""A descriptor whose bytes reach the message output (through a pipe, made once)."""
		with self.pipeLock:
			if self.pipe is None:
				self.pipe = outputPipe(self.ListOutput.Append)
		return self.pipe.writeEnd

	@property
	def buffer(self):
		"""Bytes written here reach the message output as through fileno()."""
		with self.pipeLock:
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

	# Closes a failure report: the time, then a separator line. Each ends its line, so that
	# the next output starts on a line of its own.
	def showmsg(self):
		self.ListOutput.Append(time.ctime() + '\n')
		self.ListOutput.Append('--------------------------------------------------\n')

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

sys.stderr = errCatcher()
sys.stdout = outCatcher()
sys.stdin = inCatcher(sys.stdout)

