#include "completion/CompletionServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

// The server's nice value: low enough that its warm-up leaves the editor's first script the
// processor, not so low that a busy machine starves the requests (a process cannot raise its
// priority again once it has lowered it).
constexpr int serverNice = 10;
// The descriptor the server finds its listening socket on.
constexpr int serverListeningFd = 3;
// How long a stopped server is given to end before it is killed.
constexpr auto stopGrace = std::chrono::milliseconds(500);

// Names of the environment that the server does not get: it never talks to a display.
bool IsDisplayVariable(const char* entry) {
    return std::strncmp(entry, "DISPLAY=", 8) == 0 ||
           std::strncmp(entry, "WAYLAND_DISPLAY=", 16) == 0;
}

// Between fork and exec only async-signal-safe calls: the editor has threads of its own.
[[noreturn]] void ExecServer(pid_t editor, int listener, char* const* argv, char* const* envp) {
    // The server ends with the editor's process (the forking thread is its main thread).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != editor)
        _exit(127);
    setpriority(PRIO_PROCESS, 0, serverNice);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // dup2 onto itself keeps close-on-exec: then the flag is cleared by hand.
    if (listener == serverListeningFd ? fcntl(listener, F_SETFD, 0) != 0
                                      : dup2(listener, serverListeningFd) < 0)
        _exit(127);
    // Standard input is not the editor's; standard output (the editor's output in batch mode)
    // is never written to: anything the server prints goes to standard error.
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0)
        dup2(null, STDIN_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    // Descriptors the editor and its scripts opened stay theirs.
    if (syscall(SYS_close_range, serverListeningFd + 1, ~0U, 0) != 0) {
        for (int fd = serverListeningFd + 1; fd < 65536; ++fd)
            close(fd);
    }
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

namespace {

// The socket address of the editor process `editor`.
socklen_t MakeAddress(pid_t editor, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    const std::string name = CompletionServer::Address(editor);
    std::memcpy(address.sun_path, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
}

} // namespace

std::string CompletionServer::Address(pid_t editor) {
    return std::string(1, '\0') + "coilhatch-completion-" + std::to_string(editor);
}

bool CompletionServer::Start(const std::string& python, const std::string& script,
                             const std::string& execPath) {
    Stop();
    command = {python, script, execPath};

    listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return false;
    sockaddr_un address;
    const socklen_t length = MakeAddress(getpid(), address);
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        listen(listener, 16) != 0) {
        close(listener);
        listener = -1;
        return false;
    }
    return Spawn();
}

bool CompletionServer::Spawn() {
    std::vector<char*> argv;
    for (std::string& word : command)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (!IsDisplayVariable(*entry))
            envp.push_back(*entry);
    envp.push_back(nullptr);

    const pid_t editor = getpid();
    const pid_t child = fork();
    if (child == 0)
        ExecServer(editor, listener, argv.data(), envp.data());
    pid = child < 0 ? -1 : child;
    return pid > 0;
}

bool CompletionServer::Reaped() {
    if (pid <= 0)
        return true;
    int status = 0;
    const pid_t result = waitpid(pid, &status, WNOHANG);
    // ECHILD: someone else reaped it (a SIGCHLD handler that waits for any child).
    if (result == pid || (result < 0 && errno == ECHILD)) {
        pid = -1;
        return true;
    }
    return false;
}

bool CompletionServer::EnsureRunning() {
    if (listener < 0)
        return false;
    if (Reaped())
        return Spawn();
    return true;
}

void CompletionServer::Stop() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + stopGrace;
        while (!Reaped()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    if (listener >= 0) {
        close(listener);
        listener = -1;
    }
}

bool CompletionServer::Tell(const std::string& request) const {
    if (listener < 0 || request.size() > maxToldRequest)
        return false;
    const int connection = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (connection < 0)
        return false;
    sockaddr_un address;
    const socklen_t length = MakeAddress(getpid(), address);
    // The listening socket is this object's: the connection waits in its queue.
    bool sent = connect(connection, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    const int size = static_cast<int>(request.size());
    if (sent && size > 0)
        setsockopt(connection, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    sent = sent && send(connection, request.data(), request.size(), MSG_NOSIGNAL) ==
                       static_cast<ssize_t>(request.size());
    close(connection);
    return sent;
}
