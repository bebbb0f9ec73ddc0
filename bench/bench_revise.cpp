// Time of one font's revision on the full-size test font, beside the time of
// the plain file work that any revision must do (the file copied twice and
// read back once with stdio), measured in the same run.
//
//     bench_revise [FONT_DIR]        (default: $TEST_FONT_DIR)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/manager.h"
#include "platform/sim/sim.h"
#include "tools/paproducer/paproducer.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

const int kRounds = 3;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

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

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("TEST_FONT_DIR");
    const std::string dir = argc > 1 ? argv[1] : env ? env : TEST_FONT_DIR_DEFAULT;
    const Bytes installed = ReadAll(dir + "/Sorame-Gothic-Full-W3.otf");
    const Bytes revised = ReadAll(dir + "/Sorame-Gothic-Full-W3.rev.otf");
    if (installed.empty() || revised.empty()) {
        std::fprintf(stderr, "bench_revise: the full-size test fonts are not in %s\n", dir.c_str());
        return 2;
    }

    auto started = Clock::now();
    std::string error;
    const Bytes diff = paproducer::MakeDifference(installed, revised, &error);
    const double produce = Seconds(started);
    if (diff.empty()) {
        std::fprintf(stderr, "bench_revise: %s\n", error.c_str());
        return 2;
    }

    char tmpl[] = "/tmp/bench-revise-XXXXXX";
    if (!::mkdtemp(tmpl)) return 2;
    const std::string root = tmpl;
    fs::create_directories(root + "/C/Fonts");
    fs::create_directories(root + "/C/host");
    fs::create_directories(root + "/C/Temp");
    sim::Reset();
    sim::MapDrive('C', root + "/C");
    const char* fontPath = "C:\\Fonts\\Sorame-Gothic-Full-W3.otf";
    const char* diffPath = "C:\\host\\Sorame-Gothic-Full-W3.pa";
    const char* tempPath = "C:\\Temp\\1700000000123";
    if (!WriteAll(sim::HostPath(fontPath), installed) || !WriteAll(sim::HostPath(diffPath), diff)) return 2;

    double bestRevise = 1e9, bestLoad = 1e9, bestBuild = 1e9, bestVerify = 1e9, bestCopy = 1e9;
    std::vector<char> buffer(installed.size());
    for (int round = 0; round < kRounds; ++round) {
        COpenTypeManager m;
        started = Clock::now();
        if (m.LoadFont(fontPath, nullptr, nullptr, 1, 0) != 0) return 3;
        const double load = Seconds(started);
        const CTagObject* name = m.FindTag("name");
        if (name) m.GetSerialStrings(m.m_pFile + 12 + 16 * name->m_fileIndex, m.m_macSerial, m.m_winSerial);
        auto phase = Clock::now();
        if (m.CreateRevisedFile(fontPath, diffPath, tempPath, nullptr, nullptr, 1, 0) != 0) return 3;
        const double build = Seconds(phase);
        phase = Clock::now();
        if (m.VerifyRevisedFile(tempPath, m.m_outputSum) != 0) return 3;
        const double verify = Seconds(phase);
        const double revise = Seconds(started);

        const std::string host = sim::HostPath(fontPath);
        started = Clock::now();
        if (!StdioCopy(host, root + "/copy-a", buffer) || !StdioCopy(host, root + "/copy-b", buffer)) return 3;
        FILE* back = std::fopen((root + "/copy-b").c_str(), "rb");
        if (!back || std::fread(buffer.data(), 1, buffer.size(), back) != installed.size()) return 3;
        std::fclose(back);
        const double copy = Seconds(started);

        bestRevise = std::min(bestRevise, revise);
        bestLoad = std::min(bestLoad, load);
        bestBuild = std::min(bestBuild, build);
        bestVerify = std::min(bestVerify, verify);
        bestCopy = std::min(bestCopy, copy);
    }

    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("font: %zu bytes, difference file: %zu bytes (made in %.3f s)\n", installed.size(), diff.size(),
                produce);
    std::printf("revision (best of %d): %.3f s  = load %.3f + build %.3f + verify %.3f\n", kRounds, bestRevise,
                bestLoad, bestBuild, bestVerify);
    std::printf("stdio reference, 2 copies + 1 read-back (best of %d): %.3f s\n", kRounds, bestCopy);
    std::printf("ratio revision / reference: %.2f\n", bestRevise / bestCopy);
    std::printf("peak memory (ru_maxrss): %ld MB\n", usage.ru_maxrss / 1024);

    sim::Reset();
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
