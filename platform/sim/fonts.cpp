// Fonts loaded in the session on the simulated machine: Windows holds the
// file of every font loaded from outside its own font folder open without
// delete sharing, so that it can be neither replaced nor deleted until the
// last load of it is undone.
#include <sys/stat.h>

#include "platform/sim/machine.h"

using sim::Fail;
using sim::M;

namespace {

using Key = std::pair<dev_t, ino_t>;

void Hold(const std::string& host, const struct stat& st) {
    sim::FileHandle held;
    held.host = host;
    held.dev = st.st_dev;
    held.ino = st.st_ino;
    held.access = GENERIC_READ;
    held.share = FILE_SHARE_READ;
    held.font = true;
    M().heldElsewhere.push_back(held);
}

void Load(const std::string& host, const struct stat& st) {
    if (M().loadedFonts[Key(st.st_dev, st.st_ino)]++ == 0) Hold(host, st);
}

}  // namespace

namespace sim {

void LoadFontElsewhere(const std::string& windowsPath) {
    std::string host;
    struct stat st;
    if (!ResolveNative(windowsPath.c_str(), &host) || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    Load(host, st);
}

int FontLoadCount(const std::string& windowsPath) {
    std::string host;
    struct stat st;
    if (!ResolveNative(windowsPath.c_str(), &host) || ::stat(host.c_str(), &st) != 0) return 0;
    auto it = M().loadedFonts.find(Key(st.st_dev, st.st_ino));
    return it == M().loadedFonts.end() ? 0 : it->second;
}

}  // namespace sim

int WINAPI AddFontResourceA(LPCSTR fileName) {
    if (sim::Enter("AddFontResourceA")) return 0;
    std::string host;
    if (!fileName || !sim::Resolve(fileName, &host)) return 0;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Fail(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    Load(host, st);
    M().lastError = ERROR_SUCCESS;
    return 1;
}

BOOL WINAPI RemoveFontResourceA(LPCSTR fileName) {
    if (sim::Enter("RemoveFontResourceA")) return FALSE;
    std::string host;
    if (!fileName || !sim::Resolve(fileName, &host)) return FALSE;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return Fail(ERROR_FILE_NOT_FOUND);
    const Key key(st.st_dev, st.st_ino);
    auto it = M().loadedFonts.find(key);
    if (it == M().loadedFonts.end()) return Fail(ERROR_FILE_NOT_FOUND);
    if (--it->second == 0) {
        M().loadedFonts.erase(it);
        auto& held = M().heldElsewhere;
        for (auto h = held.begin(); h != held.end();) {
            h = h->font && h->dev == key.first && h->ino == key.second ? held.erase(h) : h + 1;
        }
    }
    M().lastError = ERROR_SUCCESS;
    return TRUE;
}
