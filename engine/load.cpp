#include "engine/load.h"

#include <cstring>
#include <new>

bool ReadTableObjects(const DirectoryView& directory, CTypedPtrArray<CObArray, CTagObject*>* tags) {
    const uint32_t length = static_cast<uint32_t>(directory.Length());
    for (const TableEntry& e : directory) {
        char tagName[5] = {0, 0, 0, 0, 0};
        std::memcpy(tagName, e.record.tag, 4);
        if (!IsKnownTag(tagName)) return false;
        // A tag the directory names twice makes no font the builder can
        // form (each table is formed once), and refusing it here keeps the
        // directory to the seventeen known tables: the ordering is then
        // never asked to sort tens of thousands of records.
        if (FindTagIn(*tags, tagName)) return false;
        CTagObject* tag = new (std::nothrow) CTagObject;
        if (!tag) return false;
        tags->Add(tag);
        tag->ReadRecord(directory.Image() + e.recordAt, directory.Image(), length);
        // The builder takes every table's bytes from the image.
        if (!tag->HasData()) return false;
    }
    return true;
}

void OrderTableObjects(const CTypedPtrArray<CObArray, CTagObject*>& tags,
                       CTypedPtrArray<CSortArray, CTagObject*>* sorted) {
    for (INT_PTR i = 0; i < tags.GetSize(); ++i) {
        CTagObject* tag = tags.GetAt(i);
        tag->m_fileIndex = static_cast<int32_t>(i);
        sorted->Add(tag);
    }
    sorted->Sort(CompareTagOffsets);
    for (INT_PTR i = 0; i < sorted->GetSize(); ++i) sorted->GetAt(i)->m_sortedIndex = static_cast<int32_t>(i);
}
