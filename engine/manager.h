// COpenTypeManager: one font in the engine's hands, from reading the
// installed file to writing and checking its revised form.  Each operation
// runs on a fresh manager, which owns everything it reads and builds.
//
// The manager holds the storage; the work is done by the functions of each
// concern, which take it as plain inputs: identification
// (engine/identify.h), loading (engine/load.h), building
// (engine/build.h), the serial strings and checksums (engine/checksum.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/headname.h"
#include "engine/identify.h"
#include "engine/manifest.h"
#include "engine/otmodel.h"
#include "engine/progress.h"
#include "engine/sabun.h"
#include "engine/sabuncheck.h"
#include "engine/types.h"
#include "engine/wholefile.h"
#include "platform/framework/cstring.h"

class COpenTypeManager : public COpenTypeObject {
public:
    COpenTypeManager();
    ~COpenTypeManager() override;
    COpenTypeManager(const COpenTypeManager&) = delete;
    COpenTypeManager& operator=(const COpenTypeManager&) = delete;

    // Frees the image, the table objects, the difference data and the output.
    void Reset();

    // The first table, in directory order, whose tag is tagName; or null.
    CTagObject* FindTag(const char* tagName) const;
    CTagObject* Tag(INT_PTR i) const { return m_tags.GetAt(i); }
    CTagObject* SortedTag(INT_PTR i) const { return m_sortedTags.GetAt(i); }

    // 1 when the file at path is exactly the font and revision that entry's
    // difference file revises, 0 when it is not, -1 when it could not be
    // read (a search that reports no failure must never have skipped one);
    // revisionOut receives every head revision seen.
    int IsTargetFont(const char* path, const DiffFileRecord* entry, int* revisionOut);

    // True when no head or name table of the loaded image says it is
    // another font or revision than entry names.
    bool LoadedFontIs(const DiffFileRecord& entry) const;

    // True when the loaded image is exactly the font and revision that
    // entry names, by the rule identification applies to an installed file.
    bool LoadedFontIsTarget(const DiffFileRecord& entry) const;

    // Which font the loaded image says it is, as identification reads it.
    FontIdentity ReadFontIdentity() const;

    // Reads the installed font for revision: 0, 1 or 8.
    int LoadFont(const char* path, ProgressCallbackFn callback, void* context, int fontCount, int fontIndex);

    // For the name table record at `record` (inside m_pFile): copies its
    // serial strings into macOut and winOut; 1 when both were found.
    int GetSerialStrings(const BYTE* record, char* macOut, char* winOut);

    // Takes the loaded font's serial strings, those of its first name table,
    // into m_macSerial and m_winSerial, which the revised font carries over;
    // both stay empty when it has none.
    void TakeSerialStrings();

    // Builds the revised font from the loaded one and its difference file
    // and writes it to tempPath.
    int CreateRevisedFile(const char* fontPath, const char* paPath, const char* tempPath,
                          ProgressCallbackFn callback, void* context, int fontCount, int fontIndex);
    int WriteSerialRecord(const char* fontPath, const COpenTypeHeader& offsetTable, ProgressCallbackFn callback,
                          void* context, int fontCount, int fontIndex);
    int RecalcCheckSums(const char* fontPath, const COpenTypeHeader& offsetTable, ProgressCallbackFn callback,
                        void* context, int fontCount, int fontIndex);
    int VerifyRevisedFile(const char* path, uint32_t expectedSum);

    // Revises one installed font from end to end.
    int ReviseFont(const char* fontPath, int revision, ProgressCallbackFn callback, void* context, int fontCount,
                   int fontIndex);

    // What the operations above read and build, for callers to look at.
    const BYTE* Image() const { return m_pFile; }
    uint32_t ImageLength() const { return static_cast<uint32_t>(m_fileLength); }
    const COpenTypeHeader& Header() const { return m_header; }
    INT_PTR TagCount() const { return m_tags.GetSize(); }
    // The loaded font, as the checks and the build take it.
    LoadedFont Loaded() const { return LoadedFont{m_pFile, ImageLength(), &m_header, &m_tags}; }
    const CString& FontName() const { return m_fontName; }
    const char* MacSerial() const { return m_macSerial; }
    const char* WinSerial() const { return m_winSerial; }
    // The difference file the last build read; null before one.
    const CMakeSabunData* SabunData() const { return m_pSabunData; }
    const BYTE* Output() const { return m_pOutput; }
    uint32_t OutputLength() const { return m_outputLength; }
    // Word sum of the revised image as written, which the read-back must find.
    uint32_t OutputSum() const { return m_outputSum; }

private:
    int32_t m_fileLength = 0;   // length of the file last opened
    BYTE* m_pFile = nullptr;    // owned: the file image
    CString m_fontName;         // file name and extension of the font being revised
    COpenTypeHeader m_header;
    BYTE* m_pOutput = nullptr;  // owned: the revised font's image, while it is built
    uint32_t m_outputLength = 0;
    // Owned: the memory of the last image written, m_readBackSize bytes,
    // kept so that reading the file back needs no new memory; its bytes
    // mean nothing.
    BYTE* m_pReadBack = nullptr;
    uint64_t m_readBackSize = 0;
    char m_macSerial[kSerialBufferSize];
    char m_winSerial[kSerialBufferSize];
    CTypedPtrArray<CObArray, CTagObject*> m_tags;          // owned, directory order
    CTypedPtrArray<CSortArray, CTagObject*> m_sortedTags;  // the same objects by offset; not owned
    CMakeSabunData* m_pSabunData = nullptr;                // owned
    uint32_t m_outputSum = 0;  // word sum of the revised image as written
    FileIdentity m_fileIdentity;  // of the file the image was read from
    // While ReviseFont builds: the scanned record the difference file must
    // still match; null for a build asked for directly.
    const DiffFileRecord* m_pExpectedDiff = nullptr;

    // Reads the file whole into m_pFile (with one spare byte when spareByte)
    // and sets m_fileLength; false when it cannot be opened, is empty, is too
    // large to be a font, or cannot be read.
    bool ReadImage(const char* path, bool spareByte, bool* wrongSize = nullptr);

    // Leaves copy, a complete revision of the font at fontPath that is in
    // use, to replace it when Windows next starts: 0, or 4 with the copy
    // removed.
    int ReplaceAtNextStart(const char* fontPath, const char* copy);

    // Frees m_pReadBack.
    void DropReadBackBuffer();
};
