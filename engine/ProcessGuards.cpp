#include "engine/ProcessGuards.h"

#include <unistd.h>

#include <cstdio>

namespace process_guards {

ForkedChildEnds::ForkedChildEnds() : editor(::getpid()) {}

void ForkedChildEnds::EndIfChild(int status) const {
    if (::getpid() != editor)
        ::_exit(status);
}

Deadline::Deadline(std::chrono::milliseconds limit)
    : watcher([this, limit] {
          std::unique_lock<std::mutex> lock(mutex);
          if (changed.wait_for(lock, limit, [this] { return done; }))
              return;
          std::fprintf(stderr,
                       "marrowpad: the scripts' atexit functions did not end within %lld s; the "
                       "editor ends without waiting for them.\n",
                       static_cast<long long>(
                           std::chrono::duration_cast<std::chrono::seconds>(limit).count()));
          std::fflush(nullptr);
          ::_exit(0);
      }) {}

Deadline::~Deadline() {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    changed.notify_all();
    watcher.join();
}

} // namespace process_guards
