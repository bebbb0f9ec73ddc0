// One font's whole revision (COpenTypeManager::ReviseFont: load, build, the
// replacement of the installed file, the read-back) on the full-size test
// font, beside the plain file work that any revision must do (the file
// copied twice and read back once with stdio), measured in turns in the same
// run.  The program's fixed waits run on the simulated clock and cost no time.
// A second reference does the same file work with the revision's own
// obligations: each whole file read into a new buffer (whose pages the system
// must supply) and the replacing copy flushed to disk.
//
// Also printed:
//   - the longest stretch between two progress reports (and from the start
//     to the first, and from the last to the end): how long the window
//     would go without a chance to repaint;
//   - the revision's peak memory, two ways, neither counting this harness:
//     the peak of bytes held through operator new (this program replaces it)
//     from just before ReviseFont to its return, and the peak resident size
//     (VmHWM) of a fresh process that only revises, less that of one that
//     does everything but the revision.
//
//   - the revision with a release manifest beside the difference file (the
//     file, the bytes it takes and the revised font each hashed and compared),
//     beside the second reference plus SHA-256 of the difference file and of
//     both fonts whole, through the same library.
//
//     bench_revise [FONT_DIR]        (default: $TEST_FONT_DIR)
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "discovery/foldercheck.h"
#include "engine/manager.h"
#include "engine/sha256.h"
#include "platform/sim/sim.h"
#include "tools/paproducer/paproducer.h"

#include "bench/heap_accounting.h"
#include "tests/support/manifest.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

const int kRounds = 7;
const char kFontName[] = "Sorame-Gothic-Full-W3";
const char kFontPath[] = "C:\\Fonts\\Sorame-Gothic-Full-W3.otf";

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// One whole-file read and one whole-file write with stdio.
bool StdioCopy(const std::string& from, const std::string& to, std::vector<char>& buffer) {
    FILE* in = std::fopen(from.c_str(), "rb");
    if (!in) return false;
    const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
    std::fclose(in);
    FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) return false;
    const bool ok = std::fwrite(buffer.data(), 1, got, out) == got;
    return std::fclose(out) == 0 && ok;
}

// A whole-file read into a newly allocated buffer; *got receives the bytes read.
std::unique_ptr<char[]> FreshBufferRead(const std::string& path, size_t* got) {
    *got = 0;
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return nullptr;
    std::fseek(in, 0, SEEK_END);
    const long size = std::ftell(in);
    std::fseek(in, 0, SEEK_SET);
    std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(size > 0 ? size : 1)]);
    *got = std::fread(buffer.get(), 1, static_cast<size_t>(size > 0 ? size : 0), in);
    std::fclose(in);
    return buffer;
}

// One whole-file read into a new buffer and one whole-file write, flushed to
// disk when flush.
bool FreshBufferCopy(const std::string& from, const std::string& to, bool flush) {
    size_t got = 0;
    const std::unique_ptr<char[]> buffer = FreshBufferRead(from, &got);
    if (!buffer) return false;
    FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) return false;
    bool ok = std::fwrite(buffer.get(), 1, got, out) == got && std::fflush(out) == 0;
    if (flush) ok = ::fsync(::fileno(out)) == 0 && ok;
    return std::fclose(out) == 0 && ok;
}

// The simulated machine of every round: the font installed on C:, the
// program with its difference file in C:\prog, a temporary folder.
void MapMachine(const std::string& root) {
    sim::Reset();
    sim::MapDrive('C', root + "/C");
    sim::SetModulePath("C:\\prog\\upd.exe");
    sim::SetTempPath("C:\\Temp\\");
    sim::SetTime(1700000000);
}

// Progress reports of one revision, stamped as they come.
struct Stamps {
    std::vector<Clock::time_point> at;
    std::vector<int> step;
};

int Stamp(int, int step, const char*, const char*, void* context) {
    Stamps* stamps = static_cast<Stamps*>(context);
    stamps->at.push_back(Clock::now());
    stamps->step.push_back(step);
    return 0;
}

// The high-water mark of this process's resident size, in bytes: per
// address space, so a process started with exec counts only its own pages.
long PeakResident() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6) * 1024L;
    }
    return -1;
}

// The fresh process of the memory figure: "revise" runs ReviseFont once,
// "idle" sets up everything the same way and stops short of it.
int Child(const std::string& mode, const std::string& root) {
    MapMachine(root);
    if (!GetFolderCheckCtrl()) return 3;
    if (mode == "revise") {
        COpenTypeManager manager;
        if (manager.ReviseFont(kFontPath, 0x00010000, nullptr, nullptr, 1, 0) != kReviseOk) return 3;
    }
    ReleaseFolderCheckCtrl();
    std::printf("%ld\n", PeakResident());
    return 0;
}

// Peak resident size, in bytes, of this program run afresh as a child.
long ChildPeak(const char* self, const char* mode, const std::string& root) {
    const std::string command = std::string("'") + self + "' --child " + mode + " '" + root + "'";
    FILE* child = ::popen(command.c_str(), "r");
    if (!child) return -1;
    long peak = -1;
    if (std::fscanf(child, "%ld", &peak) != 1) peak = -1;
    return ::pclose(child) == 0 ? peak : -1;
}

// The inputs of every round: the full-size font, its revision and their
// difference file in place on the simulated machine under root.
struct Inputs {
    Bytes installed, revised, diff;
    std::string root, fontHost;
};

// Reads the fonts from dir, makes the difference file and lays out the
// machine; 0, or the exit code that says why not.
int Prepare(const std::string& dir, Inputs* in) {
    in->installed = ReadAll(dir + "/" + kFontName + ".otf");
    in->revised = ReadAll(dir + "/" + kFontName + ".rev.otf");
    if (in->installed.empty() || in->revised.empty()) {
        std::fprintf(stderr, "bench_revise: the full-size test fonts are not in %s\n", dir.c_str());
        return 2;
    }
    std::string error;
    in->diff = paproducer::MakeDifference(in->installed, in->revised, &error);
    if (in->diff.empty()) {
        std::fprintf(stderr, "bench_revise: %s\n", error.c_str());
        return 2;
    }

    char tmpl[] = "/tmp/bench-revise-XXXXXX";
    if (!::mkdtemp(tmpl)) return 2;
    in->root = tmpl;
    fs::create_directories(in->root + "/C/Fonts");
    fs::create_directories(in->root + "/C/prog/host");
    fs::create_directories(in->root + "/C/Temp");
    MapMachine(in->root);
    in->fontHost = sim::HostPath(kFontPath);
    if (!WriteAll(sim::HostPath((std::string("C:\\prog\\host\\") + kFontName + ".pa").c_str()), in->diff)) return 2;
    return 0;
}

// The same file work as a revision with its obligations: each whole-file
// read into a buffer of its own, newly allocated, and the copy that
// replaces the font flushed to disk before it is used.
bool DutyWork(const Inputs& in) {
    if (!FreshBufferCopy(in.fontHost, in.root + "/copy-a", false) ||
        !FreshBufferCopy(in.fontHost, in.root + "/copy-b", true)) {
        return false;
    }
    size_t readBack = 0;
    return FreshBufferRead(in.root + "/copy-b", &readBack) && readBack == in.revised.size();
}

// The figures of the plain revision (no manifest), over the rounds.
struct Figures {
    double bestRevise = 1e9, bestCopy = 1e9, worstGap = 0, worstGapFlush = 0, bestFlush = 0, bestDuty = 1e9;
    std::vector<double> roundGaps;  // the longest stretch of each round
    int gapFrom = -1, gapTo = -1, reports = 0;
    uint64_t slept = 0;
    size_t heapPeak = 0;
    std::string lastStretches;
};

// One round's revision as it went: its progress reports, its time in
// FlushFileBuffers, the peak of heap it held.
struct Round {
    Stamps stamps;
    Clock::time_point started, ended;
    double flushing = 0;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> flushes;
    size_t peak = 0;
    int result = 0;
};

// One ReviseFont, its calls to FlushFileBuffers timed (from its start to
// the next call) and its heap counted; false when the machine is not ready.
bool ReviseOnce(Round* r) {
    CFolderCheckCtrl* control = GetFolderCheckCtrl();
    if (!control || control->GetDiffFileCount() != 1) return false;
    Clock::time_point flushStart{};
    bool inFlush = false;
    sim::OnCall([&](const char* api, uint64_t) {
        const Clock::time_point now = Clock::now();
        if (inFlush) {
            r->flushing += Seconds(now - flushStart);
            r->flushes.emplace_back(flushStart, now);
        }
        inFlush = std::strcmp(api, "FlushFileBuffers") == 0;
        flushStart = now;
    });
    r->stamps.at.reserve(64);
    r->stamps.step.reserve(64);
    const size_t heldBefore = g_heldBytes;
    g_peakBytes = heldBefore;
    r->started = Clock::now();
    {
        COpenTypeManager manager;
        r->result = manager.ReviseFont(kFontPath, 0x00010000, Stamp, &r->stamps, 1, 0);
    }
    r->ended = Clock::now();
    r->peak = g_peakBytes - heldBefore;
    ReleaseFolderCheckCtrl();
    // The hook holds this function's locals.
    sim::OnCall(nullptr);
    return true;
}

// The stretches of a round: start .. first report .. each next report ..
// end, the longest kept with the time in FlushFileBuffers within it.
void TakeStretches(const Round& r, Figures* f) {
    f->roundGaps.push_back(0);
    std::vector<Clock::time_point> marks{r.started};
    marks.insert(marks.end(), r.stamps.at.begin(), r.stamps.at.end());
    marks.push_back(r.ended);
    const std::vector<int>& step = r.stamps.step;
    f->lastStretches.clear();
    for (size_t i = 1; i < marks.size(); ++i) {
        const double gap = Seconds(marks[i] - marks[i - 1]);
        f->roundGaps.back() = std::max(f->roundGaps.back(), gap);
        char text[64];
        std::snprintf(text, sizeof text, "%s-%s %.1f", i == 1 ? "start" : std::to_string(step[i - 2]).c_str(),
                      i == marks.size() - 1 ? "end" : std::to_string(step[i - 1]).c_str(), gap * 1000);
        f->lastStretches += (f->lastStretches.empty() ? "" : ", ") + std::string(text);
        if (gap <= f->worstGap) continue;
        f->worstGap = gap;
        f->worstGapFlush = 0;
        for (const auto& flush : r.flushes) {
            if (flush.first >= marks[i - 1] && flush.second <= marks[i]) {
                f->worstGapFlush += Seconds(flush.second - flush.first);
            }
        }
        f->gapFrom = i == 1 ? -1 : step[i - 2];
        f->gapTo = i == marks.size() - 1 ? -1 : step[i - 1];
    }
}

// The plain revision against the two stdio references, round by round;
// 0, or the exit code of what failed.
int MeasurePlain(const Inputs& in, Figures* f) {
    std::vector<char> buffer(in.installed.size());
    for (int round = 0; round <= kRounds; ++round) {
        if (!WriteAll(in.fontHost, in.installed)) return 2;
        MapMachine(in.root);
        Round r;
        if (!ReviseOnce(&r)) return 3;
        if (r.result != kReviseOk || ReadAll(in.fontHost).size() != in.revised.size()) {
            std::fprintf(stderr, "bench_revise: the revision failed (%d)\n", r.result);
            return 3;
        }

        const Clock::time_point copyStart = Clock::now();
        if (!StdioCopy(in.fontHost, in.root + "/copy-a", buffer) ||
            !StdioCopy(in.fontHost, in.root + "/copy-b", buffer)) {
            return 3;
        }
        FILE* back = std::fopen((in.root + "/copy-b").c_str(), "rb");
        if (!back || std::fread(buffer.data(), 1, buffer.size(), back) != in.revised.size()) return 3;
        std::fclose(back);
        const double copy = Seconds(Clock::now() - copyStart);

        const Clock::time_point dutyStart = Clock::now();
        if (!DutyWork(in)) return 3;
        const double duty = Seconds(Clock::now() - dutyStart);
        if (round == 0) continue;  // the warm-up

        const double revise = Seconds(r.ended - r.started);
        if (revise < f->bestRevise) f->bestFlush = r.flushing;
        f->bestRevise = std::min(f->bestRevise, revise);
        f->bestCopy = std::min(f->bestCopy, copy);
        f->bestDuty = std::min(f->bestDuty, duty);
        f->heapPeak = std::max(f->heapPeak, r.peak);
        f->slept = sim::SleptMilliseconds();
        f->reports = static_cast<int>(r.stamps.at.size());
        TakeStretches(r, f);
    }
    return 0;
}

// The same revision, proved by a release manifest, against the second
// reference plus the same SHA-256s; 0, or the exit code of what failed.
int MeasureListed(const Inputs& in, double* bestListed, double* bestDutyDigests) {
    const std::string manifestHost = sim::HostPath("C:\\prog\\host\\release.sha256");
    if (!WriteAll(in.fontHost, in.installed)) return 2;
    MapMachine(in.root);
    const Bytes manifest =
        testdata::ManifestOf({{std::string(kFontName) + ".pa", kFontPath, in.diff, in.revised}});
    if (!WriteAll(manifestHost, manifest)) return 2;
    for (int round = 0; round <= kRounds; ++round) {
        if (!WriteAll(in.fontHost, in.installed)) return 2;
        MapMachine(in.root);
        if (!GetFolderCheckCtrl()) return 3;
        Stamps stamps;
        stamps.at.reserve(64);
        stamps.step.reserve(64);
        const Clock::time_point started = Clock::now();
        int result = 0;
        {
            COpenTypeManager manager;
            result = manager.ReviseFont(kFontPath, 0x00010000, Stamp, &stamps, 1, 0);
        }
        const double listed = Seconds(Clock::now() - started);
        ReleaseFolderCheckCtrl();
        if (result != kReviseOk) {
            std::fprintf(stderr, "bench_revise: the revision with its manifest failed (%d)\n", result);
            return 3;
        }
        const Clock::time_point dutyStart = Clock::now();
        if (!DutyWork(in)) return 3;
        BYTE digest[kDigestSize];
        for (const Bytes* hashed : {&in.diff, &in.installed, &in.revised}) {
            if (!Sha256Of(hashed->data(), hashed->size(), digest)) return 3;
        }
        const double duty = Seconds(Clock::now() - dutyStart);
        if (round == 0) continue;
        *bestListed = std::min(*bestListed, listed);
        *bestDutyDigests = std::min(*bestDutyDigests, duty);
    }
    fs::remove(manifestHost);
    return 0;
}

void PrintFigures(const Inputs& in, Figures& f, double bestListed, double bestDutyDigests, long idle, long revising) {
    auto stepName = [](int step, const char* edge) { return step < 0 ? std::string(edge) : std::to_string(step); };
    const double size = static_cast<double>(in.installed.size());
    std::printf("font: %zu bytes, difference file: %zu bytes\n", in.installed.size(), in.diff.size());
    std::printf("ReviseFont (best of %d):                      %.3f s  (%llu ms of waits on the simulated clock)\n",
                kRounds, f.bestRevise, static_cast<unsigned long long>(f.slept));
    std::printf("  of which FlushFileBuffers (fsync):           %.3f s\n", f.bestFlush);
    std::printf("stdio, 2 copies + 1 read-back (best of %d):   %.3f s\n", kRounds, f.bestCopy);
    std::printf("ratio revision / stdio:                        %.2f\n", f.bestRevise / f.bestCopy);
    std::printf("ratio without the flush to disk:               %.2f\n", (f.bestRevise - f.bestFlush) / f.bestCopy);
    std::printf("stdio, same work with new buffers and an fsync: %.3f s\n", f.bestDuty);
    std::printf("ratio revision / that:                         %.2f  (target: at most 1.5)\n", f.bestRevise / f.bestDuty);
    std::printf("ReviseFont with its release manifest:          %.3f s  (%.3f s more)\n", bestListed,
                bestListed - f.bestRevise);
    std::printf("that stdio work plus the same SHA-256s:        %.3f s\n", bestDutyDigests);
    std::printf("ratio revision with manifest / that:           %.2f  (target: at most 1.5)\n",
                bestListed / bestDutyDigests);
    std::sort(f.roundGaps.begin(), f.roundGaps.end());
    std::printf("longest stretch between progress reports:      %.1f ms over all rounds, from %s to %s; median round %.1f ms "
                "(%d reports; target: at most 50 ms)\n",
                f.worstGap * 1000, stepName(f.gapFrom, "the start").c_str(), stepName(f.gapTo, "the end").c_str(),
                f.roundGaps.empty() ? 0.0 : f.roundGaps[f.roundGaps.size() / 2] * 1000, f.reports);
    std::printf("  of which waiting for FlushFileBuffers:       %.1f ms\n", f.worstGapFlush * 1000);
    std::printf("  stretches of the last round, ms:              %s\n", f.lastStretches.c_str());
    std::printf("peak heap of the revision (operator new):      %.1f MB = %.2f x the font (target: at most 2.0)\n",
                static_cast<double>(f.heapPeak) / 1e6, static_cast<double>(f.heapPeak) / size);
    if (idle > 0 && revising > 0) {
        std::printf("peak resident size, revising child - idle child: %.1f MB - %.1f MB = %.2f x the font\n",
                    static_cast<double>(revising) / 1e6, static_cast<double>(idle) / 1e6,
                    static_cast<double>(revising - idle) / size);
    } else {
        std::printf("peak resident size: the child processes failed\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return Child(argv[2], argv[3]);

    const char* env = std::getenv("TEST_FONT_DIR");
    const std::string dir = argc > 1 ? argv[1] : env ? env : TEST_FONT_DIR_DEFAULT;
    Inputs in;
    if (const int failed = Prepare(dir, &in)) return failed;
    Figures figures;
    if (const int failed = MeasurePlain(in, &figures)) return failed;

    if (!WriteAll(in.fontHost, in.installed)) return 2;
    const long idle = ChildPeak(argv[0], "idle", in.root);
    const long revising = ChildPeak(argv[0], "revise", in.root);
    double bestListed = 1e9, bestDutyDigests = 1e9;
    if (const int failed = MeasureListed(in, &bestListed, &bestDutyDigests)) return failed;
    PrintFigures(in, figures, bestListed, bestDutyDigests, idle, revising);

    sim::Reset();
    std::error_code ec;
    fs::remove_all(in.root, ec);
    return 0;
}
