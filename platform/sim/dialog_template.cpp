#include "platform/sim/dialog_template.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "platform/sim/le_bytes.h"
#include "platform/sim/sim.h"

namespace sim {

namespace {

void AppendUtf8(std::string* out, uint32_t c) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | c >> 6);
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | c >> 12);
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | c >> 18);
        *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads a NUL-terminated UTF-16 string at `at` as code page 932 text.
bool ReadString(const unsigned char* base, size_t size, size_t* at, std::string* ansi) {
    std::string utf8;
    for (;;) {
        if (*at > size || size - *at < 2) return false;
        uint32_t c = LeU16(base + *at);
        *at += 2;
        if (c == 0) break;
        if (c >= 0xD800 && c < 0xDC00 && *at <= size && size - *at >= 2) {
            const uint32_t low = LeU16(base + *at);
            if (low >= 0xDC00 && low < 0xE000) {
                *at += 2;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        AppendUtf8(&utf8, c);
    }
    *ansi = AnsiFromUtf8(utf8);
    return true;
}

// A name or class field: an ordinal (0xFFFF, value) or a string.
bool ReadNameOrOrdinal(const unsigned char* base, size_t size, size_t* at, int* ordinal, std::string* text) {
    if (*at > size || size - *at < 2) return false;
    const uint16_t first = LeU16(base + *at);
    if (first == 0xFFFF) {
        if (size - *at < 4) return false;
        *ordinal = LeU16(base + *at + 2);
        *at += 4;
        return true;
    }
    *ordinal = -1;
    return ReadString(base, size, at, text);
}

RECT Rect(const unsigned char* p) {
    const short x = static_cast<short>(LeU16(p)), y = static_cast<short>(LeU16(p + 2));
    const short cx = static_cast<short>(LeU16(p + 4)), cy = static_cast<short>(LeU16(p + 6));
    return RECT{x, y, x + cx, y + cy};
}

}  // namespace

bool SameClass(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool ParseTemplate(const unsigned char* base, size_t size, DialogTemplate* out) {
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, help ID, extended style,
    // style, item count, rectangle, menu, class, title, then the font.
    if (size < 26 || LeU16(base) != 1 || LeU16(base + 2) != 0xFFFF) return false;
    out->exStyle = LeU32(base + 8);
    out->style = LeU32(base + 12);
    const int count = LeU16(base + 16);
    const RECT r = Rect(base + 18);
    out->dlu = RECT{0, 0, r.right - r.left, r.bottom - r.top};
    size_t at = 26;
    int ordinal = 0;
    std::string ignored;
    if (!ReadNameOrOrdinal(base, size, &at, &ordinal, &ignored)) return false;  // menu
    if (!ReadNameOrOrdinal(base, size, &at, &ordinal, &ignored)) return false;  // class
    if (!ReadString(base, size, &at, &out->title)) return false;
    if (out->style & DS_SETFONT) {
        if (size - at < 6) return false;
        at += 6;  // point size, weight, italic, character set
        if (!ReadString(base, size, &at, &ignored)) return false;
    }
    for (int i = 0; i < count; ++i) {
        at = (at + 3) & ~static_cast<size_t>(3);
        if (at > size || size - at < 24) return false;
        ItemTemplate item;
        item.exStyle = LeU32(base + at + 4);
        item.style = LeU32(base + at + 8);
        item.dlu = Rect(base + at + 12);
        item.id = static_cast<int>(static_cast<int32_t>(LeU32(base + at + 20)));
        at += 24;
        int classOrdinal = -1;
        if (!ReadNameOrOrdinal(base, size, &at, &classOrdinal, &item.cls)) return false;
        switch (classOrdinal) {
        case 0x80: item.cls = "Button"; break;
        case 0x81: item.cls = "Edit"; break;
        case 0x82: item.cls = "Static"; break;
        case 0x83: item.cls = "ListBox"; break;
        case 0x84: item.cls = "ScrollBar"; break;
        case 0x85: item.cls = "ComboBox"; break;
        default:
            // The resource compiler stores class names upper-cased; keep the
            // usual spelling (names compare without regard to case anyway).
            for (const char* known : {"msctls_progress32", "SysListView32"}) {
                if (SameClass(item.cls, known)) item.cls = known;
            }
            break;
        }
        if (!ReadNameOrOrdinal(base, size, &at, &item.textOrdinal, &item.text)) return false;
        if (at > size || size - at < 2) return false;
        const size_t extra = LeU16(base + at);
        at += 2;
        if (size - at < extra) return false;
        at += extra;
        out->items.push_back(item);
    }
    return true;
}

}  // namespace sim
