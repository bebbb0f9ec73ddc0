// CObArray: the framework's growable array of object pointers.
//
// The array never deletes what it holds: the object that owns an array deletes
// its elements (with their real type) before emptying it.  Plain records and
// engine objects alike are held this way, so elements are untyped here and
// CTypedPtrArray gives them their type back.
#pragma once

#include <vector>

#include "platform/winapi.h"

class CObArray {
public:
    CObArray() = default;
    virtual ~CObArray() = default;
    CObArray(const CObArray&) = delete;
    CObArray& operator=(const CObArray&) = delete;

    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_elements.size()); }
    INT_PTR GetCount() const { return GetSize(); }
    BOOL IsEmpty() const { return m_elements.empty(); }
    INT_PTR GetUpperBound() const { return GetSize() - 1; }

    // Range-tested access: an index outside 0 .. size-1 yields null (and
    // SetAt does nothing) instead of touching memory that is not there.
    void* GetAt(INT_PTR index) const {
        return InRange(index) ? m_elements[static_cast<size_t>(index)] : nullptr;
    }
    void SetAt(INT_PTR index, void* element) {
        if (InRange(index)) m_elements[static_cast<size_t>(index)] = element;
    }

    INT_PTR Add(void* element) {
        m_elements.push_back(element);
        return GetSize() - 1;
    }
    void RemoveAt(INT_PTR index) {
        if (InRange(index)) m_elements.erase(m_elements.begin() + index);
    }
    // Empties the array; the growth step stays as it was.
    void RemoveAll() { m_elements.clear(); }

    void SetSize(INT_PTR newSize, INT_PTR growBy = -1) {
        if (growBy >= 0) m_growBy = growBy;
        m_elements.resize(newSize > 0 ? static_cast<size_t>(newSize) : 0, nullptr);
    }
    INT_PTR GetGrowBy() const { return m_growBy; }

protected:
    bool InRange(INT_PTR index) const { return index >= 0 && index < GetSize(); }
    void Swap(INT_PTR a, INT_PTR b) { std::swap(m_elements[static_cast<size_t>(a)], m_elements[static_cast<size_t>(b)]); }

    std::vector<void*> m_elements;
    INT_PTR m_growBy = 0;  // kept for the framework's interface; the vector grows on its own
};

// A CObArray (or a class derived from it) whose elements are of one pointer type.
template <class BASE, class TYPE>
class CTypedPtrArray : public BASE {
public:
    TYPE GetAt(INT_PTR index) const { return static_cast<TYPE>(BASE::GetAt(index)); }
    TYPE operator[](INT_PTR index) const { return GetAt(index); }
    INT_PTR Add(TYPE element) { return BASE::Add(element); }
    void SetAt(INT_PTR index, TYPE element) { BASE::SetAt(index, element); }
};
