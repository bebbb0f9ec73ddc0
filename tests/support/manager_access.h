// What the tests plant in a manager's storage, which no caller of the engine
// may touch: an output image as the builder leaves it, serial strings as the
// driver takes them, table objects as the loader makes them.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "engine/manager.h"

struct ManagerTestAccess {
    static void SetOutput(COpenTypeManager& m, const std::vector<uint8_t>& image) {
        delete[] m.m_pOutput;
        m.m_pOutput = new BYTE[image.size() + 1]();
        std::copy(image.begin(), image.end(), m.m_pOutput);
        m.m_outputLength = static_cast<uint32_t>(image.size());
    }
    static void SetSerials(COpenTypeManager& m, const std::string& mac, const std::string& win) {
        std::fill(m.m_macSerial, m.m_macSerial + sizeof m.m_macSerial, 0);
        std::fill(m.m_winSerial, m.m_winSerial + sizeof m.m_winSerial, 0);
        std::copy(mac.begin(), mac.end(), m.m_macSerial);
        std::copy(win.begin(), win.end(), m.m_winSerial);
    }
    // The manager owns the object from here on.
    static void AddTag(COpenTypeManager& m, CTagObject* tag) { m.m_tags.Add(tag); }
};
