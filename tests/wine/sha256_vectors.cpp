// The engine's SHA-256 on Windows (the system's bcrypt.dll) against the
// published test vectors: prints one line per vector and "sha256: ok" when
// all agree, and exits 1 otherwise.
#include <cstdio>
#include <string>

#include "engine/manifest.h"
#include "engine/sha256.h"

int main() {
    const struct {
        std::string message;
        const char* digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    int wrong = 0;
    for (const auto& v : vectors) {
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
