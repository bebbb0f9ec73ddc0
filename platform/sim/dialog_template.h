// The dialog templates of the program's resources as the simulated machine
// reads them: the extended template (DLGTEMPLATEEX) and its items.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/winapi.h"

namespace sim {

struct ItemTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT dlu{};
    int id = 0;
    std::string cls;
    std::string text;
    int textOrdinal = -1;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT dlu{};
    std::string title;
    std::vector<ItemTemplate> items;
};

// Window class names compare without regard to ASCII letter case.
bool SameClass(const std::string& a, const char* b);

// False when the template is not an extended one or runs past `size`.
bool ParseTemplate(const unsigned char* base, size_t size, DialogTemplate* out);

}  // namespace sim
