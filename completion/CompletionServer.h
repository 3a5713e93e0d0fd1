// The completion server's process and the connection with it. jedi runs in a Python process of
// its own, never in the interpreter of the editor's scripts: nothing it imports, caches or sets
// reaches a script.
//
// The server gets one end of a connected socket pair as its descriptor 3; this object keeps the
// other end and a thread that writes the requests and reads the answers, so that the editor's
// thread never waits for the server. There is no name to connect to: no other process can reach
// the server or stand in for it. The server runs at the editor's own priority, gets SIGTERM when
// the editor's process ends however it ends (and when this object stops it), and talks to
// neither the editor's display nor its standard output.
//
// The server has a folder of its own (mode 0700, in $XDG_RUNTIME_DIR or the temporary folder),
// named after the editor's process: this object removes it when it stops, and Start removes
// those that editors which have ended left behind.
#pragma once

#include <nlohmann/json.hpp>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CompletionServer {
public:
    // Called on the connection's thread with each answer (a JSON object) of the server that
    // the connection of that generation reaches.
    using AnswerHandler = std::function<void(unsigned generation, nlohmann::json answer)>;
    // Called on the connection's thread when the connection of that generation has ended (the
    // server died): what was sent there will never be answered.
    using EndHandler = std::function<void(unsigned generation)>;

    CompletionServer(AnswerHandler onAnswer, EndHandler onEnd);
    ~CompletionServer();

    CompletionServer(const CompletionServer&) = delete;
    CompletionServer& operator=(const CompletionServer&) = delete;

    // Makes the folder and starts `python script execPath folder`; quiet when that fails
    // (completion then shows nothing). A server already started is stopped first.
    bool Start(const std::string& python, const std::string& script, const std::string& execPath);
    // Starts the server again when it has ended; false when it is not running after. What the
    // ended server left unanswered is asked of the new one, once: a request that is left
    // unanswered again is answered {"error": ...} here.
    bool EnsureRunning();
    // After the connection of `ended` has ended (the server died): starts the server again if
    // that has not been done yet. True when what was sent on that connection and left
    // unanswered is asked again (the answers come with the same ids), false when it is lost.
    bool Recover(unsigned ended);
    // Ends the process (SIGTERM, then SIGKILL after a while), the connection and the folder.
    void Stop();

    // Queues a request, a JSON object with "id" and "kind", for the connection's thread to
    // send; `request`, when not empty, is JSON text that goes in as the object's "request"
    // unchanged. A request not sent yet is dropped for a later one of the same kind when both
    // are `replaceable`. False when no server runs.
    bool Send(nlohmann::json message, std::string request = std::string(),
              bool replaceable = false);

    // The generation of the connection Send uses now: one more with every start.
    unsigned Generation() const { return generation; }
    // The server process, or -1.
    pid_t Pid() const { return pid; }
    // The server's folder; empty before Start and after Stop.
    const std::string& Folder() const { return folder; }
    // Why the last start failed, in a few words; empty when it did not.
    const std::string& Error() const { return error; }

    // The servers' folders are named this, then the editor's process id, a dash and a suffix.
    static constexpr const char* folderPrefix = "coilhatch-completion-";
    // Where the servers' folders are made: $XDG_RUNTIME_DIR when it is the user's own, else the
    // temporary folder.
    static std::string FolderBase();
    // Removes the folders in `base` that this user's editors left behind when they ended; how
    // many went.
    static int RemoveLeftFolders(const std::string& base);

private:
    class Connection;

    bool Spawn();
    bool Restart();
    bool Reaped(); // true when the process has ended (and is reaped)
    void EndProcess();

    AnswerHandler onAnswer;
    EndHandler onEnd;
    std::unique_ptr<Connection> connection;
    unsigned generation = 0;
    pid_t pid = -1;
    std::string folder;
    std::string error;
    std::vector<std::string> command;
    std::set<unsigned> carried; // generations whose unanswered requests went to a later one
};
