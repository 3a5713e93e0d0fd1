// Damaged and unusual settings files, made the same way every time from a seed: truncations,
// bit flips, deep nesting, huge values, entity tricks, wrong types, duplicated and missing
// sections, invalid UTF-8, byte order marks, NULs. Anything that reads "Coilhatch.xml" can be
// run over them (link the settings_corpus library).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace settings_corpus {

struct Sample {
    std::string name; // what was done, usable as a file name
    std::string bytes;
};

constexpr uint32_t DefaultSeed = 20240611;

// A well-formed settings file with `scripts` script sections, in the store's own layout.
std::string WellFormedSettings(int scripts);

// A few hundred samples; the same seed gives the same samples, byte for byte.
std::vector<Sample> DamagedSettingsFiles(uint32_t seed = DefaultSeed);

// Writes every sample into the folder as "<name>.xml"; returns how many were written.
size_t WriteDamagedSettingsFiles(const std::string& folder, uint32_t seed = DefaultSeed);

} // namespace settings_corpus
