// CString: the framework's byte string.  Text is held as bytes of the ANSI
// code page, exactly as the Windows "A" functions hand it over; nothing here
// decodes it.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/winapi.h"

#if defined(__GNUC__)
#define FW_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define FW_PRINTF_FORMAT(fmt, args)
#endif

class CString {
public:
    CString() = default;
    CString(LPCSTR text) : m_text(text ? text : "") {}
    CString(LPCSTR text, int length) : m_text(text ? text : "", text && length > 0 ? length : 0) {}

    int GetLength() const { return static_cast<int>(m_text.size()); }
    BOOL IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    operator LPCSTR() const { return m_text.c_str(); }
    LPCSTR GetString() const { return m_text.c_str(); }
    char GetAt(int index) const { return m_text[static_cast<size_t>(index)]; }

    CString& operator=(LPCSTR text) {
        m_text = text ? text : "";
        return *this;
    }
    CString& operator+=(LPCSTR text) {
        if (text) m_text += text;
        return *this;
    }
    CString& operator+=(const CString& other) {
        m_text += other.m_text;
        return *this;
    }
    CString& operator+=(char c) {
        m_text += c;
        return *this;
    }
    friend CString operator+(const CString& a, LPCSTR b) {
        CString r(a);
        r += b;
        return r;
    }

    bool operator==(LPCSTR text) const { return m_text == (text ? text : ""); }
    bool operator==(const CString& other) const { return m_text == other.m_text; }
    bool operator!=(LPCSTR text) const { return !(*this == text); }
    int Compare(LPCSTR text) const { return m_text.compare(text ? text : ""); }

    // printf-style formatting; the result replaces the contents.
    void Format(LPCSTR format, ...) FW_PRINTF_FORMAT(2, 3);
    void FormatV(LPCSTR format, va_list args);

    // Loads a text of the program's string table; a missing ID leaves the
    // string empty and returns FALSE.
    BOOL LoadString(UINT id);

private:
    std::string m_text;
};
