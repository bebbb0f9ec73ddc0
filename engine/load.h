// Loading the font to be revised: one table object per directory record,
// and the same objects in the order of their tables in the file.
#pragma once

#include "engine/fontview.h"
#include "engine/otmodel.h"

// Appends to tags one table object per record of directory (which must fit
// its image), in directory order.  False at the first record whose tag is
// not one the engine knows or was named before, or whose table is not
// inside the image; the objects made so far stay in tags, which owns them.
bool ReadTableObjects(const DirectoryView& directory, CTypedPtrArray<CObArray, CTagObject*>* tags);

// Numbers tags in their order (m_fileIndex) and puts them into sorted in
// the order of their offsets, numbered again (m_sortedIndex).  sorted does
// not own them.
void OrderTableObjects(const CTypedPtrArray<CObArray, CTagObject*>& tags,
                       CTypedPtrArray<CSortArray, CTagObject*>* sorted);
