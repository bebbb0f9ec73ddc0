// SHA-256 from the system's cryptography library, which the program loads
// by its path in the system folder.  Digests prove that a revision is the
// one the font maker released, so they are never computed by code of ours.
#pragma once

#include <cstdint>

#include "engine/otbase.h"

static const uint32_t kDigestSize = 32;

class CSha256 : public COpenTypeObject {
public:
    CSha256();
    ~CSha256() override;
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // Any number of bytes, in pieces of any size.  A failure of the system
    // is kept and reported by Finish.
    void Add(const BYTE* bytes, uint64_t length);
    void AddZeros(uint64_t count);

    // The digest of everything added; false when the system could not give
    // it (no cryptography library, as before Vista, or a call failed), and
    // then out is all zeros.  Ends the hash: nothing may be added after it.
    bool Finish(BYTE out[kDigestSize]);

private:
    struct Functions;
    Functions* m_pFunctions = nullptr;  // owned: the library and its entry points
    void* m_hAlgorithm = nullptr;
    void* m_hHash = nullptr;
    BYTE* m_pHashObject = nullptr;  // owned: the hash's state, as older systems want it from the caller
    bool m_failed = false;

    void Close();
};

// The digest of length bytes at bytes, in one call; false as Finish.
bool Sha256Of(const BYTE* bytes, uint64_t length, BYTE out[kDigestSize]);
