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
    status    -> {"warm": B, "pid": N, "rss": BYTES, "jedi": N, "check": N}
                 (rss: the resident memory of the server and its workers together; jedi and
                 check: the process ids of the workers doing jedi's and pyflakes' work)

line counts from 1 and column from 0, in characters; path is the document's file or null;
sys_path is the module path of the editor's scripts, which the other kinds take from the
latest completion; document tells the editor's documents apart. A diagnostic's line and column
are pyflakes' own (both from 1), its start and end the bytes of that line to mark. A request that a later one of the same kind (for the same
document) makes pointless, asked again before it was served, is not answered. A request that
fails is answered {"error": S}.

What the user is to know of the server (that the completion shortcut went out of jedi after a
fault, say) it writes to its standard error, which reaches the editor's message output: each
sentence once, whichever worker found it.

The work is done in worker processes of the server's own, which it ends and replaces whenever
they take too long: this process only reads the requests, hands them out and answers, and never
waits on jedi or pyflakes. One worker runs jedi, one stands by with jedi loaded to take its place
at once, and one runs pyflakes. Every request is answered within BUDGET seconds of its coming
(or of its worker's having loaded jedi, when it came while the worker started): a completion
that jedi has not worked out by then is answered from the text alone (as without jedi), and its
worker is ended. BUDGET and MEMORY_LIMIT can be set in the environment, as
COILHATCH_COMPLETION_BUDGET (seconds) and COILHATCH_COMPLETION_MEMORY (bytes). Work that a later request of the same kind makes pointless is
ended too, unless it is about to finish. A large document is completed from the text around the
caret (autocomp_core.around_caret). A worker whose memory has grown past MEMORY_LIMIT is replaced
once idle: jedi's caches are never given back otherwise.

A worker first loads jedi (or pyflakes); then, while no request waits, it warms up in small
steps, a first completion of each kind.
"""

import json
import os
import select
import signal
import socket
import subprocess
import sys
import time

import autocomp_core
import autocomp_insight
import autocomp_shortcuts

CHANNEL_FD = 3
# A request larger than this ends the connection (a document of hundreds of megabytes).
MAX_FRAME = 256 * 1024 * 1024

# Seconds from a request's coming to its answer, at most.
BUDGET = float(os.environ.get("COILHATCH_COMPLETION_BUDGET") or 1.5)
# Seconds that work made pointless by a later request may still take before its worker is
# ended: a worker ended loses what jedi has learnt, and the one taking its place learns it anew.
ABANDON_AFTER = 0.3
# A worker that has grown past this (resident bytes) is replaced.
MEMORY_LIMIT = int(os.environ.get("COILHATCH_COMPLETION_MEMORY") or 150 * 1024 * 1024)

# Completions that load what later requests need; each is one warm-up step.
_WARM_TEXTS = (
    "import os\nos.path.join(os.pa",
    "import re\nre.compile('').match(",
    "import wx\nwx.Frame(None).SetTi",
    "import MpAPI\nMpAPI.CEditorManagement_Get().GetCurrentEditor().GetLin",
)

# Seconds that a request waits at most for a worker that is starting.
STARTING = 20.0

# Workers that may end before they are ready, in a server's life.
_FAILED_STARTS = 5

_KINDS = ("complete", "prepare", "diagnose", "goto", "hover", "status")

# Kinds served after every other waiting request.
_BACKGROUND = ("diagnose", "prepare")

# Kinds whose later request (for the same document) makes an earlier one pointless.
_LATEST_ONLY = ("complete", "prepare", "diagnose", "goto", "hover")

# Kinds asked at a caret: a large document's text is cut around it.
_AT_CARET = ("complete", "prepare", "goto", "hover")


def resident_bytes(pid="self"):
    """A process's resident memory, or 0 when it cannot be read."""
    try:
        with open("/proc/%s/statm" % pid) as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except (OSError, ValueError, IndexError):
        return 0


class Channel:
    """Frames to and from the other end of a connected socket."""

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
            try:
                chunk = self.connection.recv(1 << 20)
            except OSError:
                chunk = b""
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
            # Anew, not shortened: a large document's room is given back.
            self.buffer = self.buffer[end + 1 + size :]
            try:
                message = json.loads(payload.decode("utf-8", "surrogatepass"))
            except ValueError:
                message = None
            yield message if isinstance(message, dict) else None

    def send(self, message):
        data = json.dumps(message).encode("utf-8", "surrogatepass")
        try:
            self.connection.sendall(b"%d\n" % len(data) + data)
        except OSError:  # the other end has gone
            self.closed = True

    def close(self):
        self.closed = True
        self.connection.close()


# -- the server: requests in, work out to the workers, answers back ----------------------------


class Job:
    """A request on its way: when it came, and, once handed to a worker, when that was."""

    def __init__(self, request, now):
        self.request = request
        self.kind = request.get("kind")
        self.key = (self.kind, request.get("document"))
        self.came = now
        self.sent = None
        self.pointless = False  # a later request of the same kind has come
        self.shift = 0  # characters cut from the caret line before the caret
        self.cut = None  # the request as cut for a worker, once cut


class Worker:
    """A worker process, as the server sees it: its connection and the job it is on."""

    def __init__(self, role, exec_path, folder, shortcut):
        ours, theirs = socket.socketpair()
        server = os.getpid()
        command = [sys.executable, os.path.abspath(__file__), "--worker", role,
                   str(theirs.fileno()), exec_path, folder or "", "1" if shortcut else "0"]
        self.process = subprocess.Popen(
            command, pass_fds=(theirs.fileno(),), stdin=subprocess.DEVNULL,
            stdout=sys.stderr.fileno(), preexec_fn=lambda: _end_with_parent(server),
        )
        theirs.close()
        self.role = role
        self.folder = folder
        self.channel = Channel(ours)
        self.job = None
        self.ready = None  # when it had loaded jedi (or pyflakes)
        self.warm = False
        self.rss = 0

    def journal(self):
        return os.path.join(self.folder, "importing-%d" % self.process.pid) if self.folder else None

    def end(self, crashed=False):
        """Ends the process. Unless it crashed, the import it was making (if any) is no fault
        of the module's."""
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.channel.close()
        journal = self.journal()
        if journal is None:
            return
        try:
            if crashed:
                with open(journal, encoding="utf-8") as making:
                    name = making.read().strip()
                if name:
                    with open(_refused(self.folder), "a", encoding="utf-8") as kept:
                        kept.write(name + "\n")
            os.unlink(journal)
        except OSError:
            pass


_libc = None


def _end_with_parent(server):
    # A worker busy in jedi never reads that the server has gone: the kernel ends it (and a
    # server that ended before this line is seen at once).
    try:
        _libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except Exception:
        pass
    if os.getppid() != server:
        os._exit(1)


def _refused(folder):
    return os.path.join(folder, "importing.refused")


class Server:
    def __init__(self, channel, exec_path, folder):
        self.channel = channel
        self.exec_path = exec_path
        self.folder = folder
        self.shortcut = True  # the completion shortcut goes into new workers
        self.notices = set()  # told already
        self.failed_starts = 0  # workers that ended before they were ready
        self.scripts_path = None  # the module path of the editor's scripts, as last told
        self.waiting = []
        _stub_folder(exec_path, folder)
        self.jedi = self._start("jedi")
        self.spare = self._start("spare")
        self.checker = self._start("check")

    def _start(self, role):
        return Worker(role, self.exec_path, self.folder, self.shortcut)

    def workers(self):
        return (self.jedi, self.spare, self.checker)

    def _replace(self, worker, crashed=False):
        """Ends a worker; the spare takes the jedi worker's place, and a new spare starts."""
        worker.end(crashed)
        if worker is self.checker:
            self.checker = self._start("check")
            return
        if worker is self.jedi:
            self.jedi = self.spare
            self.jedi.channel.send({"kind": "activate"})
        self.spare = self._start("spare")

    def serve_forever(self):
        try:
            while not self.channel.closed:
                self.step()
        finally:
            for worker in self.workers():
                worker.end()

    def step(self):
        now = time.monotonic()
        deadlines = [self.deadline(job, self.worker_for(job)) for job in self.waiting]
        for worker in self.workers():
            if worker.job is not None:
                deadlines.append(self.deadline(worker.job, worker))
                if worker.job.pointless:
                    deadlines.append(worker.job.sent + ABANDON_AFTER)
        timeout = max(min(deadlines) - now, 0) if deadlines else None
        sources = {self.channel.connection: None}
        sources.update((worker.channel.connection, worker) for worker in self.workers())
        readable, _, _ = select.select(list(sources), [], [], timeout)
        for source in readable:
            worker = sources[source]
            if worker is None:
                self.take(self.channel.read_available(0))
            elif worker in self.workers():  # not replaced meanwhile
                self.hear(worker, worker.channel.read_available(0))
        self.expire(time.monotonic())
        self.hand_out()

    def worker_for(self, job):
        return self.checker if job.kind == "diagnose" else self.jedi

    def deadline(self, job, worker):
        """When a job is answered at the latest. The budget runs from the job's coming, or from
        when its worker was ready if later: a worker starting (loading jedi) is not ended for
        that, which would only start another."""
        if worker.ready is None:
            return job.came + STARTING
        return max(job.came, worker.ready) + BUDGET

    def take(self, requests):
        now = time.monotonic()
        for request in requests:
            if request is None:
                continue
            if request.get("kind") not in _KINDS:
                self.channel.send({"id": request.get("id"),
                                   "error": "unknown kind %r" % (request.get("kind"),)})
                continue
            job = Job(request, now)
            if job.kind in _LATEST_ONLY:
                self.waiting = [j for j in self.waiting if j.key != job.key]
                for worker in self.workers():
                    if worker.job is not None and worker.job.key == job.key:
                        worker.job.pointless = True
            self.waiting.append(job)

    def hear(self, worker, messages):
        for message in messages:
            if message is None:
                continue
            if "warm" in message:
                worker.warm = bool(message["warm"])
                continue
            if "ready" in message:
                worker.ready = time.monotonic()
                continue
            worker.rss = message.pop("rss", 0)
            job, worker.job = worker.job, None
            notice = message.pop("notice", None)
            if notice and notice not in self.notices:
                self.notices.add(notice)
                sys.stderr.write(notice + "\n")
                sys.stderr.flush()
            if message.pop("shortcut_off", False):
                self.shortcut = False  # for the workers started from now on
            if job is not None and not job.pointless and job.kind != "prepare":
                self.answer(job, message)
        if worker.channel.closed:
            # Ended by no one here: a crash, in jedi's C code or that of a live module.
            if worker.ready is None:
                self.failed_starts += 1
                if self.failed_starts > _FAILED_STARTS:
                    # Workers that cannot start are not started over and over: the server ends,
                    # and the plug-in starts another at the next request.
                    sys.stderr.write("Python completion: its workers end as they start.\n")
                    raise SystemExit(1)
            job = worker.job
            self._replace(worker, crashed=True)
            if job is not None and not job.pointless:
                self.answer_at_once(job)
        elif worker.job is None and worker.rss > MEMORY_LIMIT:
            self._replace(worker)

    def expire(self, now):
        for worker in self.workers():
            job = worker.job
            if job is None:
                continue
            if job.pointless and now >= job.sent + ABANDON_AFTER:
                self._replace(worker)
            elif now >= self.deadline(job, worker):
                self._replace(worker)
                if not job.pointless:
                    self.answer_at_once(job)
        for job in [j for j in self.waiting if now >= self.deadline(j, self.worker_for(j))]:
            self.waiting.remove(job)
            self.answer_at_once(job)

    def hand_out(self):
        for worker in (self.jedi, self.checker):
            while worker.job is None:
                job = self.next_job(worker)
                if job is None:
                    break
                self.waiting.remove(job)
                if job.kind == "status":
                    self.answer(job, self.status())
                    continue
                request = self.request_of(job)
                if job.kind == "complete" and isinstance(request.get("request"), dict):
                    if isinstance(request["request"].get("sys_path"), list):
                        self.scripts_path = request["request"]["sys_path"]
                if job.kind in ("goto", "hover") and self.scripts_path is not None:
                    request = dict(request, sys_path=self.scripts_path)
                job.sent = time.monotonic()
                worker.job = job
                worker.channel.send(request)
                if worker.channel.closed:
                    self.hear(worker, [])

    def next_job(self, worker):
        # Checks go to the checker; what a person waits for comes before reading ahead.
        mine = [j for j in self.waiting if (j.kind == "diagnose") == (worker is self.checker)]
        return next((j for j in mine if j.kind not in _BACKGROUND), mine[0] if mine else None)

    def request_of(self, job):
        """The request as a worker gets it: a large document's text cut around the caret."""
        if job.cut is None:
            request = job.request
            if job.kind == "complete" and isinstance(request.get("request"), dict):
                request = dict(request, request=self.cut(job, request["request"]))
            elif job.kind in _AT_CARET:
                request = self.cut(job, request)
            job.cut = request
        return job.cut

    def cut(self, job, asked):
        """The request with a large document's text cut around the caret."""
        text = asked.get("text")
        if not isinstance(text, str):
            return asked
        lines = autocomp_core.split_lines(text)
        try:
            line = int(asked.get("line", len(lines)))
            column = int(asked.get("column", 0))
        except (TypeError, ValueError):
            return asked
        text, line, column, job.shift = autocomp_core.around_caret(text, line, column)
        return dict(asked, text=text, line=line, column=column)

    def status(self):
        return {
            "warm": self.jedi.warm,
            "pid": os.getpid(),
            "rss": resident_bytes() + sum(resident_bytes(w.process.pid) for w in self.workers()),
            "jedi": self.jedi.process.pid,
            "check": self.checker.process.pid,
        }

    def answer(self, job, message):
        reply = dict(message)
        if job.shift and job.kind == "goto" and reply.get("line") == job.request.get("line"):
            if reply.get("path") is None and isinstance(reply.get("column"), int):
                reply["column"] += job.shift  # the caret line was cut before the caret
        reply["id"] = job.request.get("id")
        self.channel.send(reply)

    def answer_at_once(self, job):
        """The answer to a request that no worker answered in time: a completion from the text
        alone, nothing found elsewhere."""
        kind = job.kind
        if kind == "prepare":
            return
        if kind == "status":
            message = self.status()
        elif kind == "complete":
            # The text as cut: the whole of a large one would take as long here.
            asked = self.request_of(job).get("request")
            asked = asked if isinstance(asked, dict) else {}
            try:
                prefix_len, items, calltip = autocomp_core.completions(
                    str(asked.get("text", "")), int(asked.get("line", 1)),
                    int(asked.get("column", 0)),
                    calltip_only=bool(job.request.get("calltip_only")), use_jedi=False,
                )
                message = {"prefix_len": prefix_len, "items": items, "calltip": calltip}
            except Exception as error:
                message = {"error": repr(error)}
        elif kind == "goto":
            message = {}
        elif kind == "hover":
            message = {"text": None}
        else:
            message = {"error": "no answer within %g s" % BUDGET}
        self.answer(job, message)


# -- a worker: jedi's and pyflakes' work ------------------------------------------------------


class Engine:
    """What a worker answers: jedi's and pyflakes' work on one request after another."""

    def __init__(self, channel, role, exec_path, folder):
        self.channel = channel
        self.role = role
        self.exec_path = exec_path
        self.folder = folder
        stubs = os.path.join(folder, "stubs") if folder else None
        if stubs is None or not os.path.exists(os.path.join(stubs, "MpAPI.pyi")):
            stubs = None  # the server made none
        self.stub_folder = stubs
        self._module_path_of = None  # the module path last asked for, and its answer
        self._module_path = None
        self.scripts_path = sys.path  # the module path of the editor's scripts, as last told
        self.warm_steps = list(self._warm_up_steps())
        # A spare loads jedi alone, and warms up once it takes the jedi worker's place: until
        # then it holds little memory.
        self.active = role != "spare"

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
        if self.role == "check":
            yield autocomp_insight._load_pyflakes
            return
        sys_path = self.module_path(sys.path)
        # A path of their own: jedi keeps one parse per path, and that of documents never saved
        # (no path) is the user's.
        path = os.path.join(self.folder, "warm_up.py") if self.folder else None
        yield autocomp_core.load_live_modules
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
        # What every request needs comes first.
        if self.role == "check":
            autocomp_insight._load_pyflakes()
        else:
            autocomp_core._load_jedi()
        self.channel.send({"ready": True})
        while not self.channel.closed:
            warming = self.active and self.warm_steps
            for request in self.channel.read_available(0 if warming else None):
                if request is None:
                    continue
                if request.get("kind") == "activate":
                    self.active = True
                    continue
                try:
                    reply = self.answer(request)
                except Exception as error:  # one bad request never ends the worker
                    reply = {"id": request.get("id"), "error": repr(error)}
                reply["rss"] = resident_bytes()
                notice = autocomp_shortcuts.take_notice()
                if notice:
                    reply["notice"] = notice
                if autocomp_shortcuts.failed():
                    reply["shortcut_off"] = True
                self.channel.send(reply)
            if self.active and self.warm_steps and not self.channel.closed:
                self.warm_up_step()
                if not self.warm_steps:
                    self.channel.send({"warm": True})

    def answer(self, request):
        kind = request.get("kind")
        reply = {"id": request.get("id")}
        if kind == "prepare":
            # The document open at start: its first completion then costs what a later one
            # does.
            text = str(request.get("text", ""))
            lines = autocomp_core.split_lines(text)
            autocomp_core.completions(
                text, int(request.get("line", len(lines))), int(request.get("column", 0)),
                request.get("path") or None, self.module_path(sys.path),
            )
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
            if isinstance(request.get("sys_path"), list):
                self.scripts_path = request["sys_path"]
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
        return reply


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
    if len(argv) > 1 and argv[1] == "--worker":
        role, fd, exec_path, folder, shortcut = argv[2:7]
        folder = folder or None
        if folder:
            # Live modules whose import ended an earlier worker are not imported again.
            autocomp_core.keep_import_journal(
                os.path.join(folder, "importing-%d" % os.getpid()), _refused(folder)
            )
        if shortcut != "1":
            autocomp_shortcuts.enabled = False
        Engine(Channel(socket.socket(fileno=int(fd))), role, exec_path, folder).serve_forever()
        return
    exec_path = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    folder = argv[2] if len(argv) > 2 else None
    global _libc
    try:
        import ctypes

        _libc = ctypes.CDLL(None, use_errno=True)
    except Exception:  # the workers then end when they next read from the server
        pass
    connection = socket.socket(fileno=CHANNEL_FD)
    Server(Channel(connection), exec_path, folder).serve_forever()


if __name__ == "__main__":
    main(sys.argv)
