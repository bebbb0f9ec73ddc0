// The engine's SHA-256 on Windows (the system's bcrypt.dll) against the
// published test vectors: prints one line per vector and "sha256: ok" when
// all agree, and exits 1 otherwise.
#include <cstdio>
#include <string>

#include "engine/manifest.h"
#include "engine/sha256.h"
#include "tests/support/sha256_vectors.h"

int main() {
    size_t count = 0;
    const testdata::Sha256Vector* vectors = testdata::Sha256Vectors(&count);
    int wrong = 0;
    for (size_t i = 0; i < count; ++i) {
        const testdata::Sha256Vector& v = vectors[i];
        BYTE digest[kDigestSize];
        const bool made = Sha256Of(reinterpret_cast<const BYTE*>(v.message.data()), v.message.size(), digest);
        const std::string hex = made ? DigestHex(digest) : "(no digest)";
        const bool right = hex == v.digest;
        wrong += right ? 0 : 1;
        std::printf("%s %zu bytes: %s\n", right ? "ok   " : "WRONG", v.message.size(), hex.c_str());
    }
    std::printf("sha256: %s\n", wrong == 0 ? "ok" : "wrong");
    return wrong == 0 ? 0 : 1;
}
