// Helpers shared by the benchmarks: a monotonic clock, and a wx application set up like the
// editor's (named items, main frame) so that the plug-in can be attached as in the editor.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

// Seconds taken by one call of f.
inline double Seconds(const std::function<void()>& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Each benchmark: parses its own arguments, prints its figures, returns the exit status.
int EngineAttach(int argc, char** argv);
int EngineRunScript(int argc, char** argv);
int Completion(int argc, char** argv);
int Output(int argc, char** argv);

} // namespace bench
