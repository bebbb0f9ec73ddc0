// Stand-in until the decision by the folders' access rules lands: links
// and the users' profiles are user-controlled, the rest is not.
#include "driver/foldersecurity.h"

#include <cctype>
#include <string>

#include "platform/winapi.h"

FolderControl ControlOfFolder(const char* folderPath) {
    if (!folderPath) return kFolderUserControlled;
    std::string path = folderPath;
    std::string upper = path;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.rfind("C:\\USERS\\", 0) == 0) return kFolderUserControlled;
    for (size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
        const std::string step = at == std::string::npos ? path : path.substr(0, at);
        const DWORD attributes = GetFileAttributesA(step.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            return kFolderUserControlled;
        }
        if (at == std::string::npos) break;
    }
    return kFolderAdministratorsOnly;
}
