"""The completion server: jedi in a process of its own.

The plug-in starts this file with the Python it embeds when the editor starts, and starts it
again when it has died:

    python autocomp_server.py EXEC_PATH FOLDER

File descriptor 3 is a connected stream socket whose other end the plug-in alone holds: no
other process can reach the server, and the server talks to nobody else. EXEC_PATH is the
editor's program folder (where MpAPI and its type stub lie); FOLDER is a folder of the server's
own that only this user can enter, made and removed by the plug-in. The server ends when the
plug-in closes its end, and with the editor's process however it ends (the kernel sends it
SIGTERM, whose default action ends it at once, also while it starts).

Messages go both ways as frames: the length of a JSON object in bytes, in decimal, a line feed,
then the object in UTF-8. Every request carries an "id" and a "kind"; every answer carries the
"id" of its request:

    complete  {"request": {"text", "line", "column", "path", "sys_path"}, "calltip_only": B}
              -> {"prefix_len": N, "items": [...], "calltip": S or null}
    prepare   {"text", "path"} -> no answer: the document is read ahead
    diagnose  {"document": D, "text", "path"}
              -> {"diagnostics": [{"line", "column", "message", "start", "end"}, ...]}
                 or {"unavailable": "pyflakes"} when pyflakes cannot be imported
    goto      {"text", "line", "column", "path"}
              -> {"path": P or null, "line": L, "column": C}, or {} when nothing is found
    hover     {"text", "line", "column", "path"} -> {"text": S or null}
    status    -> {"warm": B, "pid": N}

line counts from 1 and column from 0, in characters; path is the document's file or null;
sys_path is the module path of the editor's scripts, which the other kinds take from the
latest completion; document tells the editor's documents apart. A diagnostic's line and column are pyflakes' own (both from 1), its start and end the
bytes of that line to mark. A request that a later one of the same kind (for the same
document) makes pointless, asked again before it was served, is not answered. A request that
fails is answered {"error": S}.

The server first loads jedi, which every request needs; then, while no request waits, it warms
up in small steps, a first completion of each kind.
"""

import json
import os
import select
import socket
import sys

import autocomp_core
import autocomp_insight

CHANNEL_FD = 3
# A request larger than this ends the connection (a document of hundreds of megabytes).
MAX_FRAME = 256 * 1024 * 1024

# Completions that load what later requests need; each is one warm-up step.
_WARM_TEXTS = (
    "import os\nos.path.join(os.pa",
    "import re\nre.compile('').match(",
    "import wx\nwx.Frame(None).SetTi",
    "import MpAPI\nMpAPI.CEditorManagement_Get().GetCurrentEditor().GetLin",
)

# Kinds served after every other waiting request.
_BACKGROUND = ("diagnose", "prepare")

# Kinds whose later request (for the same document) makes an earlier one pointless.
_LATEST_ONLY = ("complete", "prepare", "diagnose", "goto", "hover")


class Channel:
    """Frames to and from the plug-in over the connected socket."""

    def __init__(self, connection):
        self.connection = connection
        self.buffer = bytearray()
        self.closed = False

    def read_available(self, timeout):
        """Reads what has arrived, waiting up to timeout seconds (None: until something comes)
        for the first piece; the whole frames, parsed (a frame that is no JSON object gives
        None)."""
        readable, _, _ = select.select([self.connection], [], [], timeout)
        while readable and not self.closed:
            chunk = self.connection.recv(1 << 20)
            if not chunk:
                self.closed = True
                break
            self.buffer += chunk
            readable, _, _ = select.select([self.connection], [], [], 0)
        return list(self._frames())

    def _frames(self):
        while True:
            end = self.buffer.find(b"\n", 0, 20)
            if end < 0:
                if len(self.buffer) >= 20:
                    self.closed = True  # no length: not a frame of ours
                return
            try:
                size = int(self.buffer[:end])
            except ValueError:
                size = -1
            if not 0 <= size <= MAX_FRAME:
                self.closed = True
                return
            if len(self.buffer) < end + 1 + size:
                return
            payload = bytes(self.buffer[end + 1 : end + 1 + size])
            del self.buffer[: end + 1 + size]
            try:
                message = json.loads(payload.decode("utf-8", "surrogatepass"))
            except ValueError:
                message = None
            yield message if isinstance(message, dict) else None

    def send(self, message):
        data = json.dumps(message).encode("utf-8", "surrogatepass")
        try:
            self.connection.sendall(b"%d\n" % len(data) + data)
        except OSError:  # the plug-in has gone
            self.closed = True


class Server:
    def __init__(self, channel, exec_path, folder):
        self.channel = channel
        self.exec_path = exec_path
        self.folder = folder
        self.stub_folder = _stub_folder(exec_path, folder)
        self._module_path_of = None  # the module path last asked for, and its answer
        self._module_path = None
        self.waiting = []
        self.scripts_path = sys.path  # the module path of the editor's scripts, as last told
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
        path = os.path.join(self.folder, "warm_up.py")
        yield autocomp_core.load_live_modules
        yield autocomp_insight._load_pyflakes
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
        # What every request needs comes first; requests wait in the socket meanwhile.
        autocomp_core._load_jedi()
        while not self.channel.closed:
            idle = not self.waiting and not self.warm_steps
            self.take(self.channel.read_available(None if idle else 0))
            if self.waiting:
                # What a person waits for comes before checks of documents and reading ahead.
                request = next(
                    (r for r in self.waiting if r.get("kind") not in _BACKGROUND), self.waiting[0]
                )
                self.waiting.remove(request)
                try:
                    self.answer(request)
                except Exception as error:  # one bad request never ends the server
                    self.channel.send({"id": request.get("id"), "error": repr(error)})
            elif self.warm_steps and not self.channel.closed:
                self.warm_up_step()

    def take(self, requests):
        for request in requests:
            if request is None:
                continue
            key = (request.get("kind"), request.get("document"))
            if key[0] in _LATEST_ONLY:
                self.waiting = [
                    r for r in self.waiting if (r.get("kind"), r.get("document")) != key
                ]
            self.waiting.append(request)

    def answer(self, request):
        kind = request.get("kind")
        reply = {"id": request.get("id")}
        if kind == "status":
            reply.update(warm=not self.warm_steps, pid=os.getpid())
        elif kind == "prepare":
            # The document open at start: its first completion then costs what a later one
            # does.
            text = str(request.get("text", ""))
            lines = autocomp_core.split_lines(text)
            autocomp_core.completions(
                text, len(lines), 0, request.get("path") or None, self.module_path(sys.path)
            )
            return
        elif kind == "complete":
            asked = request.get("request")
            if not isinstance(asked, dict):
                asked = {}
            if isinstance(asked.get("sys_path"), list):
                self.scripts_path = asked["sys_path"]
            prefix_len, items, calltip = autocomp_core.completions(
                str(asked.get("text", "")),
                int(asked.get("line", 1)),
                int(asked.get("column", 0)),
                asked.get("path") or None,
                self.module_path(asked.get("sys_path") or sys.path),
                calltip_only=bool(request.get("calltip_only")),
            )
            reply.update(prefix_len=prefix_len, items=items, calltip=calltip)
        elif kind == "diagnose":
            found = autocomp_insight.diagnostics(
                str(request.get("text", "")), request.get("path") or None
            )
            if found is None:
                reply.update(unavailable="pyflakes")
            else:
                reply.update(diagnostics=found)
        elif kind in ("goto", "hover"):
            where = (
                str(request.get("text", "")),
                int(request.get("line", 1)),
                int(request.get("column", 0)),
                request.get("path") or None,
                self.module_path(self.scripts_path),
            )
            if kind == "goto":
                reply.update(
                    autocomp_insight.goto(*where, self.stub_folder, self.exec_path) or {}
                )
            else:
                reply.update(text=autocomp_insight.hover(*where))
        else:
            reply.update(error="unknown kind %r" % (kind,))
        self.channel.send(reply)


def _stub_folder(exec_path, folder):
    """A folder holding MpAPI's type stub alone (a link to the stub beside the module), or None
    when there is no stub."""
    stub = os.path.join(exec_path, "MpAPI.pyi")
    if not folder or not os.path.isfile(stub):
        return None
    stubs = os.path.join(folder, "stubs")
    link = os.path.join(stubs, "MpAPI.pyi")
    try:
        os.makedirs(stubs, mode=0o700, exist_ok=True)
        if os.path.islink(link):
            os.unlink(link)  # a server that ran before this one left it
        os.symlink(stub, link)
    except OSError:
        return None
    return stubs


def main(argv):
    exec_path = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    folder = argv[2] if len(argv) > 2 else None
    if folder:
        # Live modules whose import ended an earlier server are not imported again.
        autocomp_core.keep_import_journal(os.path.join(folder, "importing"))
    connection = socket.socket(fileno=CHANNEL_FD)
    Server(Channel(connection), exec_path, folder).serve_forever()


if __name__ == "__main__":
    main(sys.argv)
