"""The completion server: jedi in a process of its own.

The plug-in starts this file with the Python it embeds when the editor starts, at low priority,
and starts it again when it has died. It hands over a listening Unix socket as file descriptor 3
and the editor's program folder (where MpAPI and its type stub lie) as the only argument. The
server ends with the editor: the kernel sends it SIGTERM when the editor's process ends, however
it ends.

Every connection carries one request, a JSON object, and gets one answer, a JSON object, each
ended by the end of its side of the connection:

    {"text": T, "line": L, "column": C, "path": P, "sys_path": [...]}
        -> {"prefix_len": N, "items": [...], "calltip": S or null}
    {"status": true}
        -> {"warm": true or false, "pid": N}
    {"prepare": true, "text": T, "line": L, "column": C, "path": P}
        -> no answer: the document is read ahead, so that its first request is fast

line counts from 1 and column from 0, in characters; path is the document's file or null;
sys_path is the module path of the editor's scripts. Only processes of this user are answered.
A request whose client has given up waiting is dropped unanswered.

The server first loads jedi and wxPython, which every request needs; then, while no request
waits, it warms jedi up in small steps, a first completion of each kind.
"""

import json
import os
import select
import shutil
import signal
import socket
import struct
import sys
import tempfile

import autocomp_core

LISTENING_FD = 3
# A request larger than this is refused (a document of tens of megabytes).
MAX_REQUEST = 64 * 1024 * 1024
# How long a client may take to send its request.
REQUEST_TIMEOUT = 5.0

# Completions that load what later requests need; each is one warm-up step.
_WARM_TEXTS = (
    "import os\nos.path.join(os.pa",
    "import re\nre.compile('').match(",
    "import wx\nwx.Frame(None).SetTi",
    "import MpAPI\nMpAPI.CEditorManagement_Get().GetCurrentEditor().GetLin",
)


class Server:
    def __init__(self, listener, exec_path, work):
        self.listener = listener
        self.exec_path = exec_path
        self.work = work  # a folder of the server's own
        self.stub_folder = _stub_folder(exec_path, work)
        self._module_path_of = None  # the module path last asked for, and its answer
        self._module_path = None
        self.warm_steps = list(self._warm_up_steps())

    # -- the module path -------------------------------------------------------------------

    def module_path(self, sys_path):
        """The scripts' module path as jedi is to search it: MpAPI's type stub stands for the
        compiled module (jedi reads a stub beside a compiled module only when the module itself
        is not found), so the program folder gives way to a folder holding the stub alone."""
        key = tuple(sys_path)
        if key != self._module_path_of:
            self._module_path_of = key
            self._module_path = self._stub_first(sys_path)
        return self._module_path

    def _stub_first(self, sys_path):
        def is_exec_path(folder):
            try:
                return os.path.samefile(folder or ".", self.exec_path)
            except (OSError, ValueError):
                return False

        kept = [folder for folder in sys_path if isinstance(folder, str)]
        if self.stub_folder is None:
            return kept
        return [self.stub_folder] + [folder for folder in kept if not is_exec_path(folder)]

    # -- warm-up ---------------------------------------------------------------------------

    def _warm_up_steps(self):
        sys_path = self.module_path(sys.path)
        # A path of their own: jedi keeps one parse per path, and that of documents never saved
        # (no path) is the user's.
        path = os.path.join(self.work, "warm_up.py")
        for text in _WARM_TEXTS:
            lines = autocomp_core.split_lines(text)
            yield lambda text=text, lines=lines: autocomp_core.completions(
                text, len(lines), len(lines[-1]), path, sys_path
            )

    def warm_up_step(self):
        step = self.warm_steps.pop(0)
        try:
            step()
        except Exception:  # a warm-up that fails leaves the work to the first request
            pass

    # -- requests --------------------------------------------------------------------------

    def serve_forever(self):
        # What every request needs comes first; requests wait in the socket's queue meanwhile.
        autocomp_core._load_jedi()
        autocomp_core.load_live_modules()
        while True:
            waiting = None if not self.warm_steps else 0
            readable, _, _ = select.select([self.listener], [], [], waiting)
            if not readable:
                self.warm_up_step()
                continue
            try:
                connection, _ = self.listener.accept()
            except (BlockingIOError, InterruptedError):
                continue
            with connection:
                try:
                    self.answer(connection)
                except Exception as error:  # one bad request never ends the server
                    print("completion server: %r" % (error,), file=sys.stderr)

    def answer(self, connection):
        if not _same_user(connection):
            return
        request = _read_request(connection)
        if request is None:
            return
        if request.get("status"):
            reply = {"warm": not self.warm_steps, "pid": os.getpid()}
        else:
            # A document to read ahead (the editor's at its start) wants no answer.
            prepare = bool(request.get("prepare"))
            if not prepare and _client_gone(connection):
                return
            prefix_len, items, calltip = autocomp_core.completions(
                str(request.get("text", "")),
                int(request.get("line", 1)),
                int(request.get("column", 0)),
                request.get("path") or None,
                self.module_path(request.get("sys_path") or sys.path),
            )
            if prepare:
                return
            reply = {"prefix_len": prefix_len, "items": items, "calltip": calltip}
        try:
            connection.sendall(json.dumps(reply).encode("utf-8"))
        except OSError:  # the client gave up meanwhile
            pass


def _same_user(connection):
    credentials = connection.getsockopt(
        socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i")
    )
    _, uid, _ = struct.unpack("3i", credentials)
    return uid == os.getuid()


def _read_request(connection):
    connection.settimeout(REQUEST_TIMEOUT)
    chunks = []
    size = 0
    while True:
        chunk = connection.recv(1 << 20)
        if not chunk:
            break
        size += len(chunk)
        if size > MAX_REQUEST:
            return None
        chunks.append(chunk)
    request = json.loads(b"".join(chunks).decode("utf-8", "surrogatepass"))
    return request if isinstance(request, dict) else None


def _client_gone(connection):
    """True when the client has closed its end: it no longer waits for the answer."""
    poller = select.poll()
    poller.register(connection, select.POLLHUP)
    return any(events & (select.POLLHUP | select.POLLERR) for _, events in poller.poll(0))


def _stub_folder(exec_path, into):
    """A folder holding MpAPI's type stub alone (a link to the stub beside the module), or None
    when there is no stub."""
    stub = os.path.join(exec_path, "MpAPI.pyi")
    if not os.path.isfile(stub):
        return None
    os.symlink(stub, os.path.join(into, "MpAPI.pyi"))
    return into


def _end(signum, frame):
    raise SystemExit(0)


def main(argv):
    exec_path = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    # The editor's end reaches this process as SIGTERM: the temporary folder is removed.
    signal.signal(signal.SIGTERM, _end)
    listener = socket.socket(fileno=LISTENING_FD)
    work = tempfile.mkdtemp(prefix="coilhatch-completion-%d-" % os.getpid())
    try:
        Server(listener, exec_path, work).serve_forever()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main(sys.argv)
