// Foundations of the engine: the common base class, the byte-order and
// checksum functions every other engine file uses, the one bounds test, and
// the sortable object array.
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
// of (length + 3) / 4 words from data.  Callers pass a buffer that holds those
// words, padded with zero bytes.
uint32_t CalcCheckSum(const void* data, int32_t length);

// n rounded up to a multiple of 4 (for n >= 0).
int32_t RoundUp4(int32_t n);

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
