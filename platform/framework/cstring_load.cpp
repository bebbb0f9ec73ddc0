#include <vector>

#include "platform/framework/cstring.h"

BOOL CString::LoadString(UINT id) {
    // LoadStringA cuts a text to the buffer without saying so: grow the buffer
    // until the text fits with room to spare.
    for (int size = 256; size <= (1 << 20); size *= 4) {
        std::vector<char> buffer(static_cast<size_t>(size));
        const int n = ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer.data(), size);
        if (n < size - 1) {
            m_text.assign(buffer.data(), static_cast<size_t>(n > 0 ? n : 0));
            return n > 0;
        }
    }
    m_text.clear();
    return FALSE;
}
