"""Figures of the completion server, driven over its pipe as the plug-in drives it: the time to
each answer for large documents, and the server's memory (its own and its workers') after many
requests. A tool, not a test: it prints what it measures.

    python3 bench/completion_server_figures.py [REQUESTS]
"""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python", "autocomplete")
STUB_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "host", "mpapi")


class Driver:
    """A completion server with the plug-in's end of its connection."""

    def __init__(self, folder):
        self.ours, theirs = socket.socketpair()
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "autocomp_server.py"), STUB_DIR, folder],
            preexec_fn=lambda: (os.dup2(theirs.fileno(), 3), os.set_inheritable(3, True)),
            close_fds=False,
            stdin=subprocess.DEVNULL,
        )
        theirs.close()
        self.pending = b""
        self.next_id = 1

    def send(self, message):
        data = json.dumps(message).encode("utf-8")
        self.ours.sendall(b"%d\n" % len(data) + data)

    def receive(self):
        while b"\n" not in self.pending:
            self.pending += self.ours.recv(1 << 16)
        header, _, rest = self.pending.partition(b"\n")
        while len(rest) < int(header):
            rest += self.ours.recv(1 << 16)
        self.pending = rest[int(header) :]
        return json.loads(rest[: int(header)])

    def ask(self, message):
        """The answer to a request, and the seconds it took."""
        message = dict(message, id=self.next_id)
        self.next_id += 1
        start = time.monotonic()
        self.send(message)
        while True:
            answer = self.receive()
            if answer.get("id") == message["id"]:
                return answer, time.monotonic() - start

    def complete(self, text, line, column, path=None):
        request = {"text": text, "line": line, "column": column, "path": path}
        return self.ask({"kind": "complete", "request": request})

    def status(self):
        return self.ask({"kind": "status"})[0]

    def wait_warm(self):
        while not self.status()["warm"]:
            time.sleep(0.2)

    def stop(self):
        self.ours.close()
        self.process.wait()


def one_long_line(size):
    """import os, then one line of size characters: statements, the caret at its end."""
    statement = "value = [1, 2, 3]; "
    return "import os\n" + statement * (size // len(statement)) + "os.pa"


def many_lines(count):
    lines = ["import os", "import re", ""]
    i = 0
    while len(lines) < count - 1:
        lines += [
            "class Thing%d(object):" % i,
            "    def method_%d(self, value, count=3):" % i,
            "        return os.path.join(str(value), '(%%d)' %% count)",
            "",
        ]
        i += 1
    return "\n".join(lines[: count - 1] + ["os.pa"])


def resident_mb(pid):
    try:
        with open("/proc/%d/statm" % pid) as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 1e6
    except OSError:
        return 0.0


def memory(status):
    return "rss %.1f MB (server and workers; the server %.1f, the jedi worker %.1f)" % (
        status["rss"] / 1e6, resident_mb(status["pid"]), resident_mb(status["jedi"]))


def caret_at_end(text):
    lines = text.split("\n")
    return len(lines), len(lines[-1])


def main(argv):
    requests = int(argv[1]) if len(argv) > 1 else 1000
    with tempfile.TemporaryDirectory() as folder:
        driver = Driver(folder)
        try:
            driver.wait_warm()
            print("idle, warm: " + memory(driver.status()))
            for name, text in (
                ("one line of 5 MB", one_long_line(5 * 1024 * 1024)),
                ("20,000 lines", many_lines(20000)),
            ):
                line, column = caret_at_end(text)
                answer, first = driver.complete(text, line, column)
                # Another caret: the start of the last line, "os" typed.
                second_answer, second = driver.complete(text, line, 2)
                print("%s: first answer %.2f s (%d items, path listed: %s), another caret "
                      "%.2f s (%d items)" % (name, first, len(answer.get("items", [])),
                                             "path" in answer.get("items", []), second,
                                             len(second_answer.get("items", []))))
            texts = [
                "import os\nos.pa", "import re\nre.comp", "import json\njson.lo",
                "import collections\ncollections.Ord", "x = 'abc'\nx.st",
                many_lines(400), "import os\nos.path.jo",
            ]
            start = time.monotonic()
            slowest = 0.0
            workers = {driver.status()["jedi"]}
            for i in range(requests):
                text = texts[i % len(texts)] + "\n# %d\n" % i  # a new text every time
                lines = text.split("\n")
                _, took = driver.complete(text, len(lines) - 2, len(lines[-3]))
                slowest = max(slowest, took)
                if i % 50 == 49:
                    workers.add(driver.status()["jedi"])
            status = driver.status()
            print("%d requests in %.1f s, slowest %.2f s, %d jedi workers: %s"
                  % (requests, time.monotonic() - start, slowest, len(workers), memory(status)))
        finally:
            driver.stop()


if __name__ == "__main__":
    main(sys.argv)
