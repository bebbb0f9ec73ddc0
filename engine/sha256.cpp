#include "engine/sha256.h"

#include <cstring>
#include <new>

struct CSha256::Functions {
    HMODULE module = nullptr;
    decltype(&BCryptOpenAlgorithmProvider) open = nullptr;
    decltype(&BCryptGetProperty) getProperty = nullptr;
    decltype(&BCryptCreateHash) create = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finish = nullptr;
    decltype(&BCryptDestroyHash) destroy = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) close = nullptr;
};

namespace {

// BCryptHashData takes a 32-bit count.
const uint64_t kPiece = 1u << 30;

template <class Fn>
bool Find(HMODULE module, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *out != nullptr;
}

// bcrypt.dll from the system folder, by its full path: a bare name would be
// looked for in the program's own folder first, which the user who unpacked
// the release may write to.
HMODULE LoadCryptography() {
    char path[MAX_PATH];
    std::memset(path, 0, sizeof path);
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_SYSTEM, FALSE)) return nullptr;
    if (!PathAppendA(path, "bcrypt.dll")) return nullptr;
    return LoadLibraryA(path);
}

}  // namespace

CSha256::CSha256() {
    m_pFunctions = new (std::nothrow) Functions;
    Functions* f = m_pFunctions;
    if (!f || !(f->module = LoadCryptography())) {
        m_failed = true;
        return;
    }
    if (!Find(f->module, "BCryptOpenAlgorithmProvider", &f->open) ||
        !Find(f->module, "BCryptGetProperty", &f->getProperty) || !Find(f->module, "BCryptCreateHash", &f->create) ||
        !Find(f->module, "BCryptHashData", &f->hashData) || !Find(f->module, "BCryptFinishHash", &f->finish) ||
        !Find(f->module, "BCryptDestroyHash", &f->destroy) ||
        !Find(f->module, "BCryptCloseAlgorithmProvider", &f->close)) {
        m_failed = true;
        return;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(f->open(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        m_failed = true;
        return;
    }
    m_hAlgorithm = algorithm;
    ULONG objectSize = 0, got = 0;
    if (!BCRYPT_SUCCESS(f->getProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                                       sizeof objectSize, &got, 0)) ||
        got != sizeof objectSize || objectSize == 0 || objectSize > (1u << 20)) {
        m_failed = true;
        return;
    }
    m_pHashObject = new (std::nothrow) BYTE[objectSize];
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!m_pHashObject || !BCRYPT_SUCCESS(f->create(algorithm, &hash, m_pHashObject, objectSize, nullptr, 0, 0))) {
        m_failed = true;
        return;
    }
    m_hHash = hash;
}

CSha256::~CSha256() { Close(); }

void CSha256::Close() {
    Functions* f = m_pFunctions;
    if (f) {
        if (m_hHash) f->destroy(m_hHash);
        if (m_hAlgorithm) f->close(m_hAlgorithm, 0);
        if (f->module) FreeLibrary(f->module);
    }
    m_hHash = nullptr;
    m_hAlgorithm = nullptr;
    delete[] m_pHashObject;
    m_pHashObject = nullptr;
    delete f;
    m_pFunctions = nullptr;
}

void CSha256::Add(const BYTE* bytes, uint64_t length) {
    while (!m_failed && length > 0) {
        const uint64_t n = length < kPiece ? length : kPiece;
        // The function takes a non-const pointer but only reads.
        if (!BCRYPT_SUCCESS(m_pFunctions->hashData(m_hHash, const_cast<PUCHAR>(bytes), static_cast<ULONG>(n), 0))) {
            m_failed = true;
        }
        bytes += n;
        length -= n;
    }
}

void CSha256::AddZeros(uint64_t count) {
    static const BYTE kZeros[4096] = {};
    while (count > 0) {
        const uint64_t n = count < sizeof kZeros ? count : sizeof kZeros;
        Add(kZeros, n);
        count -= n;
    }
}

bool CSha256::Finish(BYTE out[kDigestSize]) {
    std::memset(out, 0, kDigestSize);
    if (!m_failed && m_hHash && !BCRYPT_SUCCESS(m_pFunctions->finish(m_hHash, out, kDigestSize, 0))) m_failed = true;
    if (m_failed) std::memset(out, 0, kDigestSize);
    const bool ok = !m_failed;
    m_failed = true;  // ended
    Close();
    return ok;
}

bool Sha256Of(const BYTE* bytes, uint64_t length, BYTE out[kDigestSize]) {
    CSha256 hash;
    hash.Add(bytes, length);
    return hash.Finish(out);
}
