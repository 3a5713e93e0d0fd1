#include "registry/EditorSettings.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr unsigned char untouched = 0xA5;
constexpr std::align_val_t alignment{64};

} // namespace

EditorSettings::EditorSettings(const wxString& path)
    : memory(::operator new(room, alignment)), config(nullptr) {
    std::memset(memory, untouched, room);
    try {
        config = new (memory) CConfigManagement(path);
    } catch (...) {
        ::operator delete(memory, alignment);
        throw;
    }
    const auto* tail = static_cast<const unsigned char*>(memory) + room - guard;
    for (size_t i = 0; i < guard; ++i) {
        if (tail[i] != untouched) {
            std::fputs("Coilhatch: the editor's settings store is larger than the room the "
                       "plug-in gives it; settings may be damaged.\n",
                       stderr);
            break;
        }
    }
}

EditorSettings::~EditorSettings() {
    // The editor's destructor, found through the object's own virtual table.
    config->~CConfigManagement();
    ::operator delete(memory, alignment);
}
