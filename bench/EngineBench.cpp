#include "bench/Bench.h"

namespace bench {
int EngineAttach(int, char**) { return 0; }
int EngineRunScript(int, char**) { return 0; }
} // namespace bench
