// The search over a large folder tree, beside GNU find over the same tree.
//
// Builds 10,100 folders (100 x 100, two levels) holding 100,000 files, a few
// of them catalogue-named target fonts, maps the tree as a fixed drive, and
// times CFolderCheckCtrl::SearchFonts and `find DIR -name '*.otf'`.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "discovery/foldercheck.h"
#include "platform/sim/sim.h"
#include "tests/support/builders.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const testdata::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int CountReports(const char*, void* context) {
    ++*static_cast<int*>(context);
    return 0;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main() {
    char tmpl[] = "/tmp/bench-search-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const fs::path root = tmpl;
    const fs::path drive = root / "C";
    const fs::path program = root / "Z";
    fs::create_directories(program / "host");

    const testdata::Bytes font = testdata::SmallFont(0x00010000, "Sorame Gothic Pro W3");
    Write(program / "host" / "Sorame-Gothic-Pro-W3.pa",
          testdata::DiffBuilder().FontName("Sorame Gothic Pro W3").FromRevision(0x00010000).Build());

    const int kTop = 100, kSub = 100, kFilesPerFolder = 10;
    int files = 0, folders = 0, targets = 0;
    for (int t = 0; t < kTop; ++t) {
        const fs::path top = drive / ("Group" + std::to_string(t));
        fs::create_directories(top);
        ++folders;
        for (int s = 0; s < kSub; ++s) {
            const fs::path sub = top / ("Folder" + std::to_string(s));
            fs::create_directory(sub);
            ++folders;
            for (int f = 0; f < kFilesPerFolder; ++f) {
                const bool target = (t * kSub + s) % 1000 == 0 && f == 0;
                const std::string name = target ? "Sorame-Gothic-Pro-W3.otf"
                                         : f % 3 == 0 ? "Document" + std::to_string(f) + ".otf"
                                                      : "file" + std::to_string(f) + ".dat";
                if (target) {
                    Write(sub / name, font);
                    ++targets;
                } else {
                    std::ofstream(sub / name) << "x";
                }
                ++files;
            }
        }
    }

    sim::Reset();
    sim::MapDrive('C', drive.string(), sim::kDriveFixed);
    sim::MapDrive('Z', program.string(), sim::kDriveRemovable);
    sim::SetModulePath("Z:\\upd.exe");

    int reports = 0;
    const auto searchStart = std::chrono::steady_clock::now();
    CFolderCheckCtrl* control = GetFolderCheckCtrl();
    control->SearchFonts(CountReports, &reports);
    const double searchSeconds = Seconds(std::chrono::steady_clock::now() - searchStart);
    const long found = static_cast<long>(control->GetFoundFontCount());
    ReleaseFolderCheckCtrl();

    const std::string command = "find '" + drive.string() + "' -name '*.otf' > /dev/null";
    const auto findStart = std::chrono::steady_clock::now();
    const int findStatus = std::system(command.c_str());
    const double findSeconds = Seconds(std::chrono::steady_clock::now() - findStart);

    std::printf("tree: %d folders, %d files, %d target fonts\n", folders, files, targets);
    std::printf("SearchFonts:           %.3f s  (%ld fonts found, %d status reports)\n", searchSeconds, found, reports);
    std::printf("find -name '*.otf':    %.3f s  (exit status %d)\n", findSeconds, findStatus);
    std::printf("ratio search / find:   %.1f\n", findSeconds > 0 ? searchSeconds / findSeconds : 0.0);

    std::error_code ec;
    fs::remove_all(root, ec);
    return found == targets ? 0 : 2;
}
