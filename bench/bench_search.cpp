// The search over a large folder tree, beside GNU find over the same tree.
//
// Builds 20,000 folders (200 groups of 99 folders, two levels) holding
// 200,000 files, ten in each folder, a few of them catalogue-named target
// fonts; maps the tree as a fixed drive, and times CFolderCheckCtrl::SearchFonts
// in turns with `find DIR -name '*.otf'` and a bare walk, after one untimed
// walk of each (so that all meet a warm cache); the best of three is kept.
// The search runs twice per round: with listings that give only what a
// folder read gives, as a Windows listing costs, and with the simulated
// machine's full listings, which look up every entry on the host.
//
//     bench_search [TREE_FOLDER]
//
// With TREE_FOLDER the tree is made there once and kept, and a tree already
// there is used as it is (making it takes far longer than walking it).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

const int kRounds = 3;

// The bare walk that any listing giving each entry's attributes and size must
// make: every folder read, and every entry looked up once (fstatat).  Counts
// the entries whose names end in ".otf".
long BareWalk(int parent, const char* name) {
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    long found = 0;
    while (dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        struct stat st;
        if (::fstatat(fd, e->d_name, &st, 0) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            found += BareWalk(fd, e->d_name);
        } else {
            const size_t n = std::strlen(e->d_name);
            found += n >= 4 && std::strcmp(e->d_name + n - 4, ".otf") == 0;
        }
    }
    ::closedir(dir);
    return found;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

const int kTop = 200, kSub = 99, kFilesPerFolder = 10;

// What the tree holds.
struct Tree {
    int files = 0, folders = 0, targets = 0;
};

// Fills one folder with its ten files: a target font in one folder of a
// thousand, documents named like fonts, and other files.
void Fill(const fs::path& folder, int serial, const testdata::Bytes& font, Tree* tree) {
    for (int f = 0; f < kFilesPerFolder; ++f) {
        const bool target = serial % 1000 == 0 && f == 0;
        const std::string name = target ? "Sorame-Gothic-Pro-W3.otf"
                                 : f % 3 == 0 ? "Document" + std::to_string(f) + ".otf"
                                              : "file" + std::to_string(f) + ".dat";
        if (target) {
            Write(folder / name, font);
            ++tree->targets;
        } else {
            std::ofstream(folder / name) << "x";
        }
        ++tree->files;
    }
}

// Makes the tree under drive, or, when it was made before, counts what it
// holds as if made.
Tree MakeTree(const fs::path& drive, const testdata::Bytes& font, bool made) {
    Tree tree;
    for (int t = 0; t < kTop; ++t) {
        if (made) {
            // Counted as if made, to report the tree that is there.
            tree.folders += 1 + kSub;
            tree.files += (1 + kSub) * kFilesPerFolder;
            for (int s = 0; s < kSub; ++s) tree.targets += (t * kSub + s) % 1000 == 0 ? 1 : 0;
            continue;
        }
        const fs::path top = drive / ("Group" + std::to_string(t));
        fs::create_directories(top);
        ++tree.folders;
        Fill(top, 1, font, &tree);
        for (int s = 0; s < kSub; ++s) {
            const fs::path sub = top / ("Folder" + std::to_string(s));
            fs::create_directory(sub);
            ++tree.folders;
            Fill(sub, t * kSub + s, font, &tree);
        }
    }
    return tree;
}

// The best times of the rounds, and what the last round found.
struct Times {
    double full = 1e9, typeOnly = 1e9, find = 1e9, bare = 1e9;
    int findStatus = 0;
    int reports = 0;  // status reports of the last search
    long found[2] = {0, 0};
    long bareFound = 0;
};

// One search over the tree with the given listings; its time in seconds.
double Search(const fs::path& drive, const fs::path& program, sim::ListingDetail detail, Times* times) {
    sim::Reset();  // the call log of one walk is not carried into the next
    sim::MapDrive('C', drive.string(), sim::kDriveFixed);
    sim::MapDrive('Z', program.string(), sim::kDriveRemovable);
    sim::SetModulePath("Z:\\upd.exe");
    sim::SetListingDetail(detail);
    times->reports = 0;
    const auto start = std::chrono::steady_clock::now();
    CFolderCheckCtrl* control = GetFolderCheckCtrl();
    control->SearchFonts(CountReports, &times->reports);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    times->found[detail] = static_cast<long>(control->GetFoundFontCount());
    ReleaseFolderCheckCtrl();
    return seconds;
}

// The searches, find and the bare walk in turns, the best of the rounds
// after a warm-up.
Times Measure(const fs::path& drive, const fs::path& program) {
    Times times;
    const std::string command = "find '" + drive.string() + "' -name '*.otf' > /dev/null";
    for (int round = 0; round <= kRounds; ++round) {
        const double full = Search(drive, program, sim::kListFull, &times);
        const double typeOnly = Search(drive, program, sim::kListTypeOnly, &times);
        const auto findStart = std::chrono::steady_clock::now();
        times.findStatus = std::system(command.c_str());
        const double findTime = Seconds(std::chrono::steady_clock::now() - findStart);
        const auto bareStart = std::chrono::steady_clock::now();
        times.bareFound = BareWalk(AT_FDCWD, drive.c_str());
        const double bare = Seconds(std::chrono::steady_clock::now() - bareStart);
        if (round == 0) continue;  // the warm-up
        times.full = std::min(times.full, full);
        times.typeOnly = std::min(times.typeOnly, typeOnly);
        times.find = std::min(times.find, findTime);
        times.bare = std::min(times.bare, bare);
    }
    return times;
}

void Print(const Tree& tree, const Times& t) {
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("tree: %d folders, %d files, %d target fonts\n", tree.folders, tree.files, tree.targets);
    std::printf("find -name '*.otf':                        %.3f s  (exit status %d)\n", t.find, t.findStatus);
    std::printf("SearchFonts, listings at a Windows cost:   %.3f s  (%ld fonts found, %d status reports)\n",
                t.typeOnly, t.found[sim::kListTypeOnly], t.reports);
    std::printf("  ratio to find:                           %.2f  (target: at most 1.2)\n", ratio(t.typeOnly, t.find));
    std::printf("SearchFonts, full listings (a look-up per entry): %.3f s  (%ld fonts found)\n", t.full,
                t.found[sim::kListFull]);
    std::printf("  ratio to find:                           %.2f\n", ratio(t.full, t.find));
    std::printf("bare walk, readdir + fstatat of every entry: %.3f s  (%ld names end in .otf)\n", t.bare,
                t.bareFound);
    std::printf("  ratio to find:                           %.2f  (the floor for full listings)\n",
                ratio(t.bare, t.find));
    std::printf("  full-listing search / bare walk:         %.2f\n", ratio(t.full, t.bare));
}

}  // namespace

int main(int argc, char** argv) {
    char tmpl[] = "/tmp/bench-search-XXXXXX";
    const bool keep = argc > 1;
    if (!keep && !::mkdtemp(tmpl)) return 1;
    const fs::path root = keep ? fs::path(argv[1]) : fs::path(tmpl);
    const fs::path drive = root / "C";
    const fs::path program = root / "Z";
    const bool made = keep && fs::exists(root / "complete");
    fs::create_directories(program / "host");

    const testdata::Bytes font = testdata::SmallFont(0x00010000, "Sorame Gothic Pro W3");
    Write(program / "host" / "Sorame-Gothic-Pro-W3.pa",
          testdata::DiffBuilder().FontName("Sorame Gothic Pro W3").FromRevision(0x00010000).Build());
    const Tree tree = MakeTree(drive, font, made);
    if (keep) std::ofstream(root / "complete") << "tree made\n";

    const Times times = Measure(drive, program);
    Print(tree, times);

    std::error_code ec;
    if (!keep) fs::remove_all(root, ec);
    return times.found[sim::kListFull] == tree.targets && times.found[sim::kListTypeOnly] == tree.targets ? 0 : 2;
}
