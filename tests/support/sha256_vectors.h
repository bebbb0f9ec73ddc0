// FIPS 180-2's SHA-256 examples, for the checks of the engine's hash on the
// simulated machine (tests/release_test.cpp) and on Windows
// (tests/wine/sha256_vectors.cpp).
#pragma once

#include <string>

namespace testdata {

struct Sha256Vector {
    std::string message;
    const char* digest;
};

inline const Sha256Vector* Sha256Vectors(size_t* count) {
    static const Sha256Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    *count = sizeof vectors / sizeof vectors[0];
    return vectors;
}

}  // namespace testdata
