// One libFuzzer target: FUZZ_ENTRY names the entry (see entries.h).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/entries.h"

#ifndef FUZZ_ENTRY
#error "FUZZ_ENTRY must name an entry"
#endif

namespace {
const fuzzentry::Entry* g_entry = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* dir = std::getenv("FUZZ_FONT_DIR");
    std::string error;
    g_entry = fuzzentry::FindEntry(FUZZ_ENTRY);
    if (!g_entry || !fuzzentry::Setup(dir ? dir : FUZZ_FONT_DIR_DEFAULT, &error)) {
        std::fprintf(stderr, "fuzz target %s cannot start: %s\n", FUZZ_ENTRY, error.c_str());
        std::exit(2);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzzentry::Outcome o = g_entry->run(data, size);
    if (!o.fault.empty()) {
        std::fprintf(stderr, "%s: %s(result %d)\n", FUZZ_ENTRY, o.fault.c_str(), o.result);
        std::abort();
    }
    return 0;
}
