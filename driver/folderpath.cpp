#include "driver/folderpath.h"

#include <cstring>

#include "platform/framework/path.h"
#include "platform/winapi.h"

namespace {

// A name Windows would take as written.  It drops a final dot or space
// ("a." is "a"), takes "/" as a separator and ":" as a stream, so such a
// name would not be the folder the chain names.
bool Plain(const std::string& name) {
    if (name == "." || name == ".." || name.back() == '.' || name.back() == ' ') return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (IsDBCSLeadByte(c)) {
            ++i;
            continue;
        }
        if (c < 0x20 || std::strchr("/:*?\"<>|", c)) return false;
    }
    return true;
}

}  // namespace

bool FolderChain(const char* folderPath, std::vector<std::string>* chain) {
    chain->clear();
    if (!folderPath) return false;
    const size_t length = std::strlen(folderPath);
    if (length < 3 || length >= MAX_PATH || folderPath[1] != ':' || folderPath[2] != '\\') return false;
    const char drive = folderPath[0];
    if (!((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z'))) return false;
    chain->push_back(std::string(folderPath, 3));
    std::string name;
    for (size_t i = 3; i <= length; ++i) {
        const char c = i < length ? folderPath[i] : '\\';
        if (i < length && IsDBCSLeadByte(static_cast<BYTE>(c))) {
            if (i + 1 >= length) return false;
            name += c;
            name += folderPath[++i];
            continue;
        }
        if (c != '\\') {
            name += c;
            continue;
        }
        // Only the final backslash may close an empty name.
        if (name.empty() && i < length) return false;
        if (name.empty()) break;
        if (!Plain(name)) return false;
        const std::string& above = chain->back();
        chain->push_back(above + (above.size() == 3 ? "" : "\\") + name);
        name.clear();
    }
    return true;
}

CString FolderOf(const char* path) {
    CString drive, dir;
    SplitPath(path, &drive, &dir, nullptr, nullptr);
    if (dir.IsEmpty()) return CString();
    return drive + dir;
}
