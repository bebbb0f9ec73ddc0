// The program's compiled resources (res/updater.res, built into the program)
// and the functions that load them.
#include <iconv.h>

#include <cstring>
#include <algorithm>
#include <string>

#include "platform/sim/le_bytes.h"
#include "platform/sim/machine.h"

extern const unsigned char g_compiledResources[];
extern const size_t g_compiledResourcesSize;

namespace sim {

namespace {

// A resource name or type: an ordinal (0xFFFF, id) or a UTF-16 string.
// Returns the ordinal, or -1 for a string name, and moves past it.
int ReadId(const unsigned char*& p, const unsigned char* end) {
    if (p + 4 <= end && LeU16(p) == 0xFFFF) {
        int id = LeU16(p + 2);
        p += 4;
        return id;
    }
    while (p + 2 <= end && LeU16(p) != 0) p += 2;
    p += 2;
    return -1;
}

}  // namespace

bool FindResource(int type, int name, const unsigned char** data, size_t* size) {
    const unsigned char* p = g_compiledResources;
    const unsigned char* end = p + g_compiledResourcesSize;
    // A .res file is a run of entries: DataSize, HeaderSize, TYPE, NAME,
    // then (aligned) version and language fields; data follows the header.
    while (p + 8 <= end) {
        const uint32_t dataSize = LeU32(p);
        const uint32_t headerSize = LeU32(p + 4);
        if (headerSize < 8 || static_cast<size_t>(end - p) < headerSize ||
            static_cast<size_t>(end - p) - headerSize < dataSize) {
            return false;
        }
        const unsigned char* q = p + 8;
        const int t = ReadId(q, p + headerSize);
        const int n = ReadId(q, p + headerSize);
        if (t == type && n == name) {
            *data = p + headerSize;
            *size = dataSize;
            return true;
        }
        size_t next = (static_cast<size_t>(headerSize) + dataSize + 3) & ~static_cast<size_t>(3);
        if (next > static_cast<size_t>(end - p)) break;
        p += next;
    }
    return false;
}

bool LoadResourceString(UINT id, std::string* ansi) {
    const unsigned char* block = nullptr;
    size_t size = 0;
    // Strings live in blocks of 16: block id/16 + 1 holds the string at id%16.
    if (!FindResource(6, static_cast<int>(id / 16 + 1), &block, &size)) return false;
    size_t at = 0;
    for (UINT i = 0; i < id % 16; ++i) {
        if (at + 2 > size) return false;
        at += 2 + 2 * static_cast<size_t>(LeU16(block + at));
    }
    if (at + 2 > size) return false;
    const size_t units = LeU16(block + at);
    if (units == 0 || at + 2 + 2 * units > size) return false;

    iconv_t cd = iconv_open("CP932", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string out(units * 2 + 1, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(block + at + 2));
    size_t inLeft = units * 2;
    char* o = &out[0];
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return false;
    out.resize(out.size() - outLeft);
    *ansi = out;
    return true;
}

}  // namespace sim

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (sim::IsKernel32(moduleName)) return sim::Kernel32Module();
    return reinterpret_cast<HMODULE>(0x400000);
}

int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int bufferMax) {
    if (sim::Enter("LoadStringA")) return 0;
    if (!buffer || bufferMax <= 0) return 0;
    std::string text;
    if (!sim::LoadResourceString(id, &text)) {
        buffer[0] = '\0';
        return 0;
    }
    const size_t n = std::min(text.size(), static_cast<size_t>(bufferMax - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}
