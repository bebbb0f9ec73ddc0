#include "engine/otbase.h"

#include <cstring>

static_assert(sizeof(uint32_t) == 4 && sizeof(uint16_t) == 2, "engine field sizes");

COpenTypeObject::~COpenTypeObject() = default;

void SwapCopy(void* destination, const void* source, int n) {
    BYTE* d = static_cast<BYTE*>(destination);
    const BYTE* s = static_cast<const BYTE*>(source);
    for (int k = 0; k < n; ++k) d[k] = s[n - 1 - k];
}

uint32_t CalcCheckSum(const void* data, int32_t length) {
    if (length <= 0) return 0;
    const BYTE* p = static_cast<const BYTE*>(data);
    const uint32_t words = static_cast<uint32_t>(length) / 4u;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < words; ++i, p += 4) {
        sum += (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
               (static_cast<uint32_t>(p[2]) << 8) | p[3];
    }
    const uint32_t tail = static_cast<uint32_t>(length) % 4u;
    uint32_t word = 0;
    for (uint32_t k = 0; k < 4; ++k) word = word << 8 | (k < tail ? p[k] : 0u);
    return sum + word;
}

CSortArray::~CSortArray() = default;

void CSortArray::Sort(CompareFn compare) {
    if (GetSize() > 1) QuickSort(compare, 0, GetSize() - 1);
}

void CSortArray::QuickSort(CompareFn compare, INT_PTR lo, INT_PTR hi) {
    while (lo < hi) {
        void* pivot = m_elements[static_cast<size_t>(lo)];
        INT_PTR i = lo + 1;
        INT_PTR j = hi;
        for (;;) {
            while (i <= j && compare(m_elements[static_cast<size_t>(i)], pivot) <= 0) ++i;
            if (i <= j) {
                while (i <= j && compare(m_elements[static_cast<size_t>(j)], pivot) >= 0) --j;
            }
            if (i < j) {
                Swap(i, j);
                ++i;
                --j;
                if (i <= j) continue;
            }
            break;
        }
        Swap(lo, j);
        // The two sides are independent ranges: sorting the smaller one by
        // recursion and looping on the larger gives the same arrangement as
        // always recursing on the left, with a stack depth of log n instead
        // of n for a reversed directory.
        if (j - lo < hi - j) {
            QuickSort(compare, lo, j - 1);
            lo = j + 1;
        } else {
            QuickSort(compare, j + 1, hi);
            hi = j - 1;
        }
    }
}
