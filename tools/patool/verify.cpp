// patool verify HOST_DIR [FONT...]: a host folder checked against its
// release manifest, and fonts against the files for them, as the updater
// would check them.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "engine/manager.h"
#include "engine/manifest.h"
#include "tools/patool/inspect.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

namespace fs = std::filesystem;

int Verify(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
    const std::string& host = a[0];
    std::error_code ec;
    if (!fs::is_directory(host, ec)) return Fail(err, Failure{kExitUnreadable, "'" + host + "' is not a folder"});
    int code = kExitOk;
    auto worst = [&](int c) {
        if (code == kExitOk) code = c;
    };
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(host, ec)) {
        if (entry.path().extension() == ".pa") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    const std::string manifest = ManifestOf(host);
    if (!fs::exists(manifest, ec)) out << "no release manifest in '" << host << "'\n";
    for (const std::string& file : files) {
        Bytes pa;
        std::string why, report;
        if (!ReadHost(file, &pa, &why)) {
            out << file << ": " << why << "\n";
            worst(kExitUnreadable);
            continue;
        }
        const int verdict = ManifestVerdict(file, pa, &report);
        out << file << ": " << report << "\n";
        if (verdict != kExitOk) worst(verdict);
    }
    // Each font named is tried with every file of the folder that is for
    // it, as the updater would revise it; nothing is written but a
    // temporary file.
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string& font = a[i];
        COpenTypeManager m;
        Failure failure;
        if (!LoadWithEngine(m, font, &failure)) {
            out << font << ": " << failure.message << "\n";
            worst(failure.code);
            continue;
        }
        bool paired = false;
        for (const std::string& file : files) {
            Bytes pa;
            std::string why;
            CMakeSabunData data;
            if (!ReadHost(file, &pa, &why) || !data.ReadBytes(pa.data(), static_cast<uint32_t>(pa.size()))) continue;
            if (!m.LoadedFontIsTarget(EntryOf(data.Header()))) continue;
            paired = true;
            const std::string temp =
                (fs::temp_directory_path(ec) / ("patool-verify-" + std::to_string(::getpid()) + ".otf")).string();
            Failure built;
            const bool ok = BuildRevision(font, file, temp, &built);
            std::remove(temp.c_str());
            if (ok) {
                out << font << ": '" << FileNameOf(file) << "' revises it to the release\n";
            } else {
                out << font << ": with '" << FileNameOf(file) << "': " << built.message << "\n";
                worst(built.code);
            }
        }
        if (!paired) {
            out << font << ": no file in '" << host << "' is for this font and revision\n";
            worst(kExitDoesNotFit);
        }
    }
    return code;
}

}  // namespace internal
}  // namespace patool
