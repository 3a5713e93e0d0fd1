import sys, time
import wx
import MpAPI

sys.path.append('.')

class messageStream:
	"""A text stream that hands every piece written to it to the editor's message output 0."""

	encoding = 'utf-8'
	errors = 'strict'

	def __init__(self):
		mom = MpAPI.CMessageOutputManagement_Get()
		self.ListOutput = mom.GetMessageOutput(0)

	def write(self, msg):
		if msg != "":
			self.ListOutput.Append(msg)
		return len(msg)

	def flush(self):
		pass

	def isatty(self):
		return False

class errCatcher(messageStream):
	# Closes a failure report: the time, then a separator line. Each ends its line, so that
	# the next output starts on a line of its own.
	def showmsg(self):
		self.ListOutput.Append(time.ctime() + '\n')
		self.ListOutput.Append('--------------------------------------------------\n')

class outCatcher(messageStream):
	pass

sys.stderr = errCatcher()
sys.stdout = outCatcher()

