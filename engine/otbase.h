// Foundations of the engine: the common base class, the byte-order and
// checksum functions every other engine file uses, the one bounds test, the
// checked reader for variable data, and the sortable object array.
//
// Fonts and difference files come from outside and are not trusted.  Every
// offset, length and count read from them is compared with the size of the
// buffer it points into, with InImage, before any byte is touched; InImage
// works in 64 bits so that no sum of two 32-bit values read from a file can
// wrap around before it is compared.
#pragma once

#include <cstdint>

#include "platform/framework/coblist.h"
#include "platform/winapi.h"

class COpenTypeObject {
public:
    virtual ~COpenTypeObject();
};

// Byte-reversing copy of n bytes (n is 2 or 4 in practice, never more than 12):
// destination byte k receives source byte n-1-k.  This is the whole of the
// engine's conversion between the files' big-endian numbers and native ones,
// so the engine runs on little-endian machines only, as Windows does.
void SwapCopy(void* destination, const void* source, int n);

// The OpenType checksum: the sum, modulo 2^32, of the big-endian 32-bit words
// of the length bytes at data, the last 1 to 3 bytes, if any, counted as one
// more word padded with zero bytes on the right.  Nothing past length is
// read, so the sum of a table is the same whatever follows it.
uint32_t CalcCheckSum(const void* data, int32_t length);

// n rounded up to a multiple of 4 (for n >= 0).  In 64 bits, so that no
// length read from a file wraps around when padded.
inline uint64_t RoundUp4(uint64_t n) { return (n + 3) & ~static_cast<uint64_t>(3); }

// Bytes from .. to of some buffer.
struct Extent {
    uint64_t from, to;
};

// True when length bytes from offset lie inside a buffer of size bytes.
inline bool InImage(uint64_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
}

// Field access built on SwapCopy; the caller has checked the bounds.
inline uint16_t GetU16(const BYTE* p) {
    uint16_t v;
    SwapCopy(&v, p, 2);
    return v;
}
inline uint32_t GetU32(const BYTE* p) {
    uint32_t v;
    SwapCopy(&v, p, 4);
    return v;
}
inline void PutU16(BYTE* p, uint16_t v) { SwapCopy(p, &v, 2); }
inline void PutU32(BYTE* p, uint32_t v) { SwapCopy(p, &v, 4); }

// A cursor over untrusted bytes, for the parsers that walk variable data:
// every read checks that its bytes are there and returns false, reading
// nothing and leaving the position alone, when they are not.
class CByteReader : public COpenTypeObject {
public:
    CByteReader(const BYTE* data, uint64_t length) : m_pData(data), m_length(length) {}

    bool ReadU16(uint16_t* value) {
        if (!Has(2)) return false;
        *value = GetU16(m_pData + m_offset);
        m_offset += 2;
        return true;
    }
    bool ReadU32(uint32_t* value) {
        if (!Has(4)) return false;
        *value = GetU32(m_pData + m_offset);
        m_offset += 4;
        return true;
    }
    // The next n bytes, in place: *bytes points at them.
    bool View(uint64_t n, const BYTE** bytes) {
        if (!Has(n)) return false;
        *bytes = m_pData + m_offset;
        m_offset += n;
        return true;
    }
    bool Skip(uint64_t n) {
        if (!Has(n)) return false;
        m_offset += n;
        return true;
    }
    bool Seek(uint64_t offset) {
        if (offset > m_length) return false;
        m_offset = offset;
        return true;
    }
    // True when n more bytes are there.
    bool Has(uint64_t n) const { return InImage(m_length, m_offset, n); }
    uint64_t Offset() const { return m_offset; }
    uint64_t Length() const { return m_length; }

private:
    const BYTE* m_pData;
    uint64_t m_length;
    uint64_t m_offset = 0;
};

// An object array that can order its elements with a comparison function.
class CSortArray : public CObArray {
public:
    typedef int (*CompareFn)(const void* a, const void* b);

    ~CSortArray() override;

    void Sort(CompareFn compare);

    // In-place quicksort of the elements lo .. hi.  The pivot is the element
    // at lo; equal elements end wherever the partition steps put them.
    void QuickSort(CompareFn compare, INT_PTR lo, INT_PTR hi);
};
