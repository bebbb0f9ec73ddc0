// Release manifests for the tests, made with the engine's own digests as
// patool makes them: what is tested is that the updater holds a revision to
// them, not how they are computed (tests/release_test.cpp checks the hash
// against published vectors).
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/manager.h"
#include "engine/manifest.h"
#include "engine/release.h"
#include "tests/support/builders.h"

namespace testdata {

// One difference file as the manifest lists it: made from the font at
// installedPath (a Windows path of the simulated machine) to release.
struct Listed {
    std::string fileName;
    std::string installedPath;
    Bytes diff;
    Bytes release;
};

inline std::vector<ReleaseManifestLine> LinesOf(const Listed& f) {
    std::vector<ReleaseManifestLine> lines;
    COpenTypeManager old;
    const bool made = old.LoadFont(f.installedPath.c_str(), nullptr, nullptr, 1, 0) == kReviseOk &&
                      ReleaseLinesOf(old.Loaded(), f.diff.data(), static_cast<uint32_t>(f.diff.size()), f.release.data(),
                                     f.release.size(), f.fileName, &lines);
    EXPECT_TRUE(made) << "no manifest lines for " << f.fileName;
    return lines;
}

inline Bytes ManifestOf(const std::vector<Listed>& files) {
    std::vector<ReleaseManifestLine> lines;
    for (const Listed& f : files) {
        const std::vector<ReleaseManifestLine> more = LinesOf(f);
        lines.insert(lines.end(), more.begin(), more.end());
    }
    return BytesOf(FormatReleaseManifest(lines));
}

}  // namespace testdata
