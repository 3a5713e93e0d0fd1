#include "completion/CompletionServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

extern char** environ;

namespace {

// The descriptor the server finds its end of the connection on.
constexpr int serverChannelFd = 3;
// How long a stopped server is given to end before it is killed.
constexpr auto stopGrace = std::chrono::milliseconds(500);
// The largest answer taken: more is no answer of our server's.
constexpr size_t maxFrame = 256u * 1024 * 1024;

// Names of the environment that the server does not get: it never talks to a display.
bool IsDisplayVariable(const char* entry) {
    return std::strncmp(entry, "DISPLAY=", 8) == 0 ||
           std::strncmp(entry, "WAYLAND_DISPLAY=", 16) == 0;
}

// Between fork and exec only async-signal-safe calls: the editor has threads of its own.
[[noreturn]] void ExecServer(pid_t editor, int channel, char* const* argv, char* const* envp) {
    // The server ends with the editor's process (the forking thread is its main thread).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != editor)
        _exit(127);
    // The terminal's Ctrl+C and Ctrl+Z are the editor's: the server is in a group of its own.
    setpgid(0, 0);
    // What the editor ignores or handles, the server gets as a new process does: SIGTERM ends
    // it at once, also while it starts.
    struct sigaction byDefault;
    std::memset(&byDefault, 0, sizeof byDefault);
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            sigaction(signal, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // dup2 onto itself keeps close-on-exec: then the flag is cleared by hand.
    if (channel == serverChannelFd ? fcntl(channel, F_SETFD, 0) != 0
                                   : dup2(channel, serverChannelFd) < 0)
        _exit(127);
    // Standard input is not the editor's; standard output (the editor's output in batch mode)
    // is never written to: anything the server prints goes to standard error.
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0)
        dup2(null, STDIN_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    // Descriptors the editor and its scripts opened stay theirs.
    if (syscall(SYS_close_range, serverChannelFd + 1, ~0U, 0) != 0) {
        for (int fd = serverChannelFd + 1; fd < 65536; ++fd)
            close(fd);
    }
    execve(argv[0], argv, envp);
    _exit(127);
}

bool IsOwnPrivateFolder(const char* path) {
    struct stat info;
    return path && path[0] == '/' && lstat(path, &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

// Removes a folder and what it holds; links are removed, never followed.
void RemoveTree(const std::string& path) {
    nftw(
        path.c_str(),
        [](const char* entry, const struct stat*, int, struct FTW*) {
            remove(entry);
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The connection: this process's end of the socket pair and the thread that serves it.

class CompletionServer::Connection {
public:
    Connection(int socket, unsigned generation, const AnswerHandler& onAnswer,
               const EndHandler& onEnd)
        : fd(socket), wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), generation(generation),
          onAnswer(onAnswer), onEnd(onEnd) {
        if (wake >= 0)
            thread = std::thread([this] { Run(); });
        else
            ended = true;
    }

    ~Connection() {
        Halt();
        close(fd);
        if (wake >= 0)
            close(wake);
    }

    // Ends the thread: nothing more is sent or read.
    void Halt() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        Wake();
        if (thread.joinable())
            thread.join();
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Ended() const { return ended; }

    // A request sent or queued that has not been answered, as the frame that carries it.
    struct Unanswered {
        nlohmann::json id;
        std::string key; // of those that a later request of the same key leaves unanswered
        std::string frame;
        bool again; // sent once more already, after a server before this one ended
    };

    // What an ended connection leaves unanswered, in the order it was asked; requests that get
    // no answer ("prepare") are not kept.
    std::vector<Unanswered> TakeUnanswered() {
        const std::lock_guard<std::mutex> lock(mutex);
        std::vector<Unanswered> left = std::move(unanswered);
        unanswered.clear();
        for (Outgoing& waiting : queue) {
            std::string frame = waiting.frame.empty() ? Frame(waiting) : std::move(waiting.frame);
            if (!frame.empty() && waiting.message.value("kind", std::string()) != "prepare")
                left.push_back({waiting.message.value("id", nlohmann::json()), waiting.key,
                                std::move(frame), waiting.again});
        }
        queue.clear();
        return left;
    }

    // Sends a frame of a connection before this one again.
    void QueueAgain(Unanswered left) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            Outgoing again;
            again.message = {{"id", left.id}};
            again.key = std::move(left.key);
            again.frame = std::move(left.frame);
            again.again = true;
            queue.push_back(std::move(again));
        }
        Wake();
    }

    void Queue(nlohmann::json message, std::string request, bool replaceable) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (replaceable) {
                const auto kind = message.value("kind", std::string());
                for (auto it = queue.begin(); it != queue.end();)
                    it = it->replaceable && it->message.value("kind", std::string()) == kind
                             ? queue.erase(it)
                             : it + 1;
            }
            Outgoing outgoing;
            outgoing.message = std::move(message);
            outgoing.request = std::move(request);
            outgoing.replaceable = replaceable;
            outgoing.key = LatestOnlyKey(outgoing.message);
            queue.push_back(std::move(outgoing));
        }
        Wake();
    }

private:
    struct Outgoing {
        nlohmann::json message;
        std::string request;
        bool replaceable = false;
        std::string frame; // made already: a request sent again
        bool again = false;
        std::string key;
    };

    // The server answers only the latest request of these kinds (for a document): an earlier
    // one is never answered once a later one has been sent. Empty for other kinds.
    static std::string LatestOnlyKey(const nlohmann::json& message) {
        const std::string kind = message.value("kind", std::string());
        for (const char* latestOnly : {"complete", "prepare", "diagnose", "goto", "hover"})
            if (kind == latestOnly)
                return kind + " " + message.value("document", nlohmann::json()).dump();
        return std::string();
    }

    void Wake() {
        const std::uint64_t one = 1;
        if (wake >= 0 && write(wake, &one, sizeof one) < 0) {
            // Already counting up: the thread wakes all the same.
        }
    }

    // The next frame to write, made on this thread: a large document's JSON costs the
    // editor's thread nothing. Empty when nothing waits.
    std::string NextFrame() {
        Outgoing next;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (queue.empty())
                return std::string();
            next = std::move(queue.front());
            queue.pop_front();
        }
        std::string frame = next.frame.empty() ? Frame(next) : std::move(next.frame);
        if (frame.empty()) {
            // Not JSON (a completion script of someone's own): answered here, as the server
            // would answer what it cannot read.
            onAnswer(generation, {{"id", next.message.value("id", nlohmann::json())},
                                  {"error", "the request is not JSON"}});
            return NextFrame();
        }
        // Kept until answered: a server that ends before is asked again by the next.
        if (next.message.contains("id") && next.message.value("kind", std::string()) != "prepare") {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!next.key.empty())
                unanswered.erase(std::remove_if(unanswered.begin(), unanswered.end(),
                                                [&next](const Unanswered& sent) {
                                                    return sent.key == next.key;
                                                }),
                                 unanswered.end());
            unanswered.push_back({next.message["id"], next.key, frame, next.again});
        }
        return frame;
    }

    // The frame of a request; empty when its request text is no JSON.
    static std::string Frame(const Outgoing& next) {
        if (!next.request.empty() && !nlohmann::json::accept(next.request))
            return std::string();
        std::string payload =
            next.message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        if (!next.request.empty() && payload.size() >= 2 && payload.back() == '}') {
            payload.pop_back();
            payload += ",\"request\":" + next.request + "}";
        }
        return std::to_string(payload.size()) + "\n" + payload;
    }

    // Hands every whole frame in `in` to the handler; false when the input is no frame.
    bool TakeFrames(std::string& in) {
        size_t start = 0;
        for (;;) {
            const size_t end = in.find('\n', start);
            if (end == std::string::npos) {
                if (in.size() - start > 20)
                    return false;
                break;
            }
            char* last = nullptr;
            const unsigned long long size = std::strtoull(in.c_str() + start, &last, 10);
            if (last != in.c_str() + end || end == start || size > maxFrame)
                return false;
            if (in.size() - end - 1 < size)
                break;
            nlohmann::json answer = nlohmann::json::parse(
                in.begin() + end + 1, in.begin() + end + 1 + size, nullptr, false);
            if (answer.is_object()) {
                if (const auto id = answer.find("id"); id != answer.end()) {
                    const std::lock_guard<std::mutex> lock(mutex);
                    unanswered.erase(
                        std::remove_if(unanswered.begin(), unanswered.end(),
                                       [&id](const Unanswered& sent) { return sent.id == *id; }),
                        unanswered.end());
                }
                onAnswer(generation, std::move(answer));
            }
            start = end + 1 + size;
        }
        in.erase(0, start);
        return true;
    }

    void Run() {
        std::string out; // the frame being written
        size_t written = 0;
        std::string in;
        char buffer[1 << 16];
        for (;;) {
            if (written == out.size()) {
                out = NextFrame();
                written = 0;
            }
            pollfd fds[2] = {{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0},
                             {wake, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[1].revents != 0) {
                std::uint64_t count = 0;
                if (read(wake, &count, sizeof count) < 0) {
                    // Nothing counted: a spurious wake.
                }
                const std::lock_guard<std::mutex> lock(mutex);
                if (stopping)
                    return; // the owner ends the connection: no end to tell
            }
            if ((fds[0].revents & POLLOUT) && written < out.size()) {
                const ssize_t sent = send(fd, out.data() + written, out.size() - written,
                                          MSG_NOSIGNAL | MSG_DONTWAIT);
                if (sent > 0)
                    written += static_cast<size_t>(sent);
                else if (sent < 0 && errno != EAGAIN && errno != EINTR)
                    break;
            }
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (got == 0)
                    break;
                if (got < 0 && errno != EAGAIN && errno != EINTR)
                    break;
                if (got > 0) {
                    in.append(buffer, static_cast<size_t>(got));
                    if (!TakeFrames(in))
                        break;
                }
            }
        }
        ended = true;
        onEnd(generation);
    }

    const int fd;
    const int wake;
    const unsigned generation;
    const AnswerHandler& onAnswer;
    const EndHandler& onEnd;
    std::mutex mutex;
    std::deque<Outgoing> queue;
    std::vector<Unanswered> unanswered;
    bool stopping = false;
    std::atomic<bool> ended{false};
    std::thread thread;
};

// ---------------------------------------------------------------------------------------------

CompletionServer::CompletionServer(AnswerHandler onAnswer, EndHandler onEnd)
    : onAnswer(std::move(onAnswer)), onEnd(std::move(onEnd)) {}

CompletionServer::~CompletionServer() {
    Stop();
}

std::string CompletionServer::FolderBase() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (IsOwnPrivateFolder(runtime))
        return runtime;
    const char* temporary = std::getenv("TMPDIR");
    struct stat info;
    if (temporary && temporary[0] == '/' && stat(temporary, &info) == 0 && S_ISDIR(info.st_mode))
        return temporary;
    return "/tmp";
}

int CompletionServer::RemoveLeftFolders(const std::string& base) {
    DIR* dir = opendir(base.c_str());
    if (!dir)
        return 0;
    const size_t prefixLength = std::strlen(folderPrefix);
    int removed = 0;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, folderPrefix, prefixLength) != 0)
            continue;
        char* end = nullptr;
        const long owner = std::strtol(name + prefixLength, &end, 10);
        if (end == name + prefixLength || *end != '-' || owner <= 0)
            continue;
        const std::string path = base + "/" + name;
        // Only this user's folders, and only once their process has ended.
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
            continue;
        if (kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH)
            continue;
        RemoveTree(path);
        ++removed;
    }
    closedir(dir);
    return removed;
}

bool CompletionServer::Start(const std::string& python, const std::string& script,
                             const std::string& execPath) {
    Stop();
    error.clear();
    const std::string base = FolderBase();
    RemoveLeftFolders(base);
    std::string name = base + "/" + folderPrefix + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(name.data()) == nullptr) {
        error = "cannot make a folder in " + base + ": " + std::strerror(errno);
        return false;
    }
    folder = name;
    command = {python, script, execPath, folder};
    return Spawn();
}

bool CompletionServer::Spawn() {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        error = std::string("cannot make a socket pair: ") + std::strerror(errno);
        return false;
    }
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
        ExecServer(editor, ends[1], argv.data(), envp.data());
    close(ends[1]);
    if (child < 0) {
        error = std::string("cannot start a process: ") + std::strerror(errno);
        close(ends[0]);
        pid = -1;
        return false;
    }
    pid = child;
    connection = std::make_unique<Connection>(ends[0], ++generation, onAnswer, onEnd);
    return true;
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
    if (folder.empty())
        return false;
    if (!Reaped() && connection && !connection->Ended())
        return true;
    return Restart();
}

bool CompletionServer::Recover(unsigned ended) {
    if (folder.empty())
        return false; // stopped: nothing is asked again
    if (ended == generation && (!connection || connection->Ended()))
        Restart();
    return carried.count(ended) != 0;
}

bool CompletionServer::Restart() {
    // Ended, or about to: its connection goes with it, and a new server starts, which is asked
    // what the ended one left unanswered.
    const unsigned ended = generation;
    std::vector<Connection::Unanswered> left;
    if (connection) {
        connection->Halt();
        left = connection->TakeUnanswered();
    }
    connection.reset();
    EndProcess();
    const bool started = Spawn();
    if (started)
        carried.insert(ended);
    for (Connection::Unanswered& request : left) {
        // A request that a server before ended on too is not asked a third time: it may be
        // what ends them.
        if (started && !request.again)
            connection->QueueAgain(std::move(request));
        else
            onAnswer(ended, {{"id", request.id}, {"error", "the completion server ended"}});
    }
    return started;
}

void CompletionServer::EndProcess() {
    if (pid <= 0)
        return;
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

void CompletionServer::Stop() {
    // The connection first: a server waiting for requests sees its end and ends by itself.
    connection.reset();
    EndProcess();
    if (!folder.empty()) {
        RemoveTree(folder);
        folder.clear();
    }
}

bool CompletionServer::Send(nlohmann::json message, std::string request, bool replaceable) {
    if (!connection || connection->Ended())
        return false;
    connection->Queue(std::move(message), std::move(request), replaceable);
    return true;
}
