// Entry points that hand untrusted bytes to the engine, shared by the fuzz
// targets (one binary per entry) and by the regression test that replays
// every input kept under fuzz/regressions/<entry>/.
//
// Each entry writes the input where the engine reads it (a host folder
// mapped as drive Z: of the simulated machine), runs one engine function and
// then checks what must hold whatever the input was: no handle left open,
// and, where the engine reports success, an output that really is sound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzentry {

struct Outcome {
    int result = -1;    // the engine function's answer
    std::string fault;  // empty, or what went wrong though nothing crashed
};

struct Entry {
    const char* name;  // also the folder name under fuzz/regressions
    Outcome (*run)(const uint8_t* data, size_t size);
};

// Prepares the entries: the work folder (on tmpfs where there is one) and the
// real font with its producer-made difference file, from fontDir.  False with
// the reason in *error when the fonts cannot be had.
bool Setup(const std::string& fontDir, std::string* error);

// The real installed font and the difference file that revises it.
const std::vector<uint8_t>& RealFont();
const std::vector<uint8_t>& RealDiff();
// The release manifest of that difference file (as Target.pa), as patool
// make writes it; empty when the engine cannot make it.
const std::string& RealManifest();

const std::vector<Entry>& Entries();
const Entry* FindEntry(const std::string& name);

}  // namespace fuzzentry
