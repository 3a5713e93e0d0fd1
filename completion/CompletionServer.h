// The completion server's process. jedi runs in a Python process of its own, never in the
// interpreter of the editor's scripts: nothing it imports, caches or sets reaches a script.
//
// This object owns a listening Unix socket in the abstract namespace, named after the editor's
// process ("coilhatch-completion-PID"), where the completion script connects, and the server
// process that accepts on it. The socket outlives the process: a request made while the server
// is being started again waits in the socket's queue. The process runs at a low priority,
// gets SIGTERM when the editor's process ends however it ends (and when this object stops it),
// and talks to neither the editor's display nor its standard output.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

class CompletionServer {
public:
    CompletionServer() = default;
    ~CompletionServer() { Stop(); }

    CompletionServer(const CompletionServer&) = delete;
    CompletionServer& operator=(const CompletionServer&) = delete;

    // Listens and starts `python script execPath`; quiet when that fails (completion then shows
    // nothing). A server already started is stopped first.
    bool Start(const std::string& python, const std::string& script, const std::string& execPath);
    // Starts the server again when its process has ended; false when it is not running after.
    bool EnsureRunning();
    // Ends the process (SIGTERM, then SIGKILL after a while) and closes the socket.
    void Stop();
    // Sends a request that wants no answer (a JSON object), without waiting: false when the
    // socket cannot take it whole at once (larger than maxToldRequest, or no server listens).
    bool Tell(const std::string& request) const;
    // The largest request Tell sends: about the socket's largest buffer.
    static constexpr size_t maxToldRequest = 200 * 1024;

    bool IsListening() const { return listener >= 0; }
    // The server process, or -1.
    pid_t Pid() const { return pid; }

    // The socket's name for the editor process `editor`, with the abstract namespace's leading
    // NUL.
    static std::string Address(pid_t editor);

private:
    bool Spawn();
    bool Reaped(); // true when the process has ended (and is reaped)

    int listener = -1;
    pid_t pid = -1;
    std::vector<std::string> command;
};
