// The system's cryptography library of the simulated machine: bcrypt.dll,
// loaded by its path in the system folder, with the hash functions the
// program looks up.  SHA-256 itself is the host's OpenSSL, never code of
// our own.  Handles are checked as Windows checks them, so that a program
// that mixes them up fails here as it would there.
#include <openssl/evp.h>
#include <strings.h>

#include <cstring>
#include <string_view>
#include <set>

#include "platform/sim/machine.h"
#include "platform/sim/sim.h"

namespace {

const uintptr_t kCryptModule = 0x7FF90000;
// The one algorithm handle's tag: no real pointer is ever this value.
const uintptr_t kSha256Provider = 0x5A256;
// What BCryptGetProperty reports as the size of a hash object: the program
// must hand one over (Vista insists), though OpenSSL keeps its own.
const ULONG kHashObjectSize = 64;

// Hash handles alive, so that a stale or foreign one is refused.
std::set<EVP_MD_CTX*>& Hashes() {
    static std::set<EVP_MD_CTX*> hashes;
    return hashes;
}

int loadCount = 0;  // LoadLibraryA minus FreeLibrary of bcrypt.dll

EVP_MD_CTX* HashOf(BCRYPT_HASH_HANDLE handle) {
    EVP_MD_CTX* context = static_cast<EVP_MD_CTX*>(handle);
    return Hashes().count(context) ? context : nullptr;
}

bool IsProvider(BCRYPT_ALG_HANDLE handle) { return reinterpret_cast<uintptr_t>(handle) == kSha256Provider; }

// The status a failure rule turns into: NTSTATUS has no last error.
NTSTATUS Entered(const char* api) { return sim::Enter(api) ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS; }

}  // namespace

namespace sim {

void SetSystemCryptography(bool present) { M().shell.cryptography = present; }

HMODULE CryptModule() { return loadCount > 0 ? reinterpret_cast<HMODULE>(kCryptModule) : nullptr; }

FARPROC CryptProc(const char* name) {
    struct Export {
        const char* name;
        FARPROC proc;
    };
    static const Export kExports[] = {
        {"BCryptOpenAlgorithmProvider", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&BCryptOpenAlgorithmProvider))},
        {"BCryptGetProperty", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&BCryptGetProperty))},
        {"BCryptCreateHash", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&BCryptCreateHash))},
        {"BCryptHashData", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&BCryptHashData))},
        {"BCryptFinishHash", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&BCryptFinishHash))},
        {"BCryptDestroyHash", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&BCryptDestroyHash))},
        {"BCryptCloseAlgorithmProvider", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&BCryptCloseAlgorithmProvider))},
    };
    for (const Export& e : kExports) {
        if (std::strcmp(e.name, name) == 0) return e.proc;
    }
    return nullptr;
}

}  // namespace sim

HMODULE WINAPI LoadLibraryA(LPCSTR path) {
    if (sim::Enter("LoadLibraryA")) return nullptr;
    // Only by its full path in the system folder: a bare name would be
    // looked for beside the program first, where anyone may put a file.
    const std::string wanted = sim::M().shell.systemFolder + "\\bcrypt.dll";
    if (!path || !sim::M().shell.cryptography || ::strcasecmp(path, wanted.c_str()) != 0) {
        sim::Fail(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++loadCount;
    sim::Succeed();
    return reinterpret_cast<HMODULE>(kCryptModule);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (sim::Enter("FreeLibrary")) return FALSE;
    if (module != reinterpret_cast<HMODULE>(kCryptModule) || loadCount == 0) return sim::Fail(ERROR_INVALID_HANDLE);
    --loadCount;
    return sim::Succeed();
}

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId, LPCWSTR implementation,
                                            ULONG flags) {
    if (const NTSTATUS s = Entered("BCryptOpenAlgorithmProvider")) return s;
    if (!algorithm || !algId || implementation || flags != 0) return STATUS_INVALID_PARAMETER;
    if (std::u16string_view(algId) != BCRYPT_SHA256_ALGORITHM) return STATUS_NOT_FOUND;
    *algorithm = reinterpret_cast<BCRYPT_ALG_HANDLE>(kSha256Provider);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptGetProperty(void* object, LPCWSTR property, PUCHAR output, ULONG outputSize, ULONG* result,
                                  ULONG flags) {
    if (const NTSTATUS s = Entered("BCryptGetProperty")) return s;
    if (!IsProvider(object) || !property || !result || flags != 0) return STATUS_INVALID_PARAMETER;
    if (std::u16string_view(property) != BCRYPT_OBJECT_LENGTH) return STATUS_NOT_FOUND;
    if (!output || outputSize < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
    std::memcpy(output, &kHashObjectSize, sizeof(ULONG));
    *result = sizeof(ULONG);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject,
                                 ULONG hashObjectSize, PUCHAR secret, ULONG secretSize, ULONG flags) {
    if (const NTSTATUS s = Entered("BCryptCreateHash")) return s;
    if (!IsProvider(algorithm) || !hash || !hashObject || hashObjectSize < kHashObjectSize || secret ||
        secretSize != 0 || flags != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (!context) return STATUS_NO_MEMORY;
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return STATUS_UNSUCCESSFUL;
    }
    Hashes().insert(context);
    *hash = context;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputSize, ULONG flags) {
    if (const NTSTATUS s = Entered("BCryptHashData")) return s;
    EVP_MD_CTX* context = HashOf(hash);
    if (!context || (!input && inputSize != 0) || flags != 0) return STATUS_INVALID_PARAMETER;
    return EVP_DigestUpdate(context, input, inputSize) == 1 ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputSize, ULONG flags) {
    if (const NTSTATUS s = Entered("BCryptFinishHash")) return s;
    EVP_MD_CTX* context = HashOf(hash);
    if (!context || !output || outputSize != 32 || flags != 0) return STATUS_INVALID_PARAMETER;
    unsigned int written = 0;
    return EVP_DigestFinal_ex(context, output, &written) == 1 && written == 32 ? STATUS_SUCCESS
                                                                               : STATUS_UNSUCCESSFUL;
}

NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
    if (const NTSTATUS s = Entered("BCryptDestroyHash")) return s;
    EVP_MD_CTX* context = HashOf(hash);
    if (!context) return STATUS_INVALID_PARAMETER;
    Hashes().erase(context);
    EVP_MD_CTX_free(context);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
    if (const NTSTATUS s = Entered("BCryptCloseAlgorithmProvider")) return s;
    return IsProvider(algorithm) && flags == 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}
