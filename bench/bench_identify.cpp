// Identification of fonts whose name tables claim far more than they hold:
// the time and the peak heap of IsTargetFont on each, beside the same call
// on a well-formed font of about the same size.  Prints figures; asserts
// nothing.
//
//   build/bench/bench_identify
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "engine/manager.h"
#include "platform/sim/sim.h"
#include "tests/support/builders.h"

#include "bench/heap_accounting.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main() {
    const fs::path root = fs::temp_directory_path() / ("bench_identify-" + std::to_string(::getpid()));
    fs::create_directories(root);
    sim::Reset();
    sim::MapDrive('C', root.string());
    const char kPath[] = "C:\\f.otf";
    const uint32_t kRev = 0x00010000;
    const DiffFileRecord entry = testdata::Entry("Sorame Gothic W3", kRev);

    struct Case {
        const char* what;
        testdata::Bytes font;
    };
    // A well-formed font padded to the size of the largest hostile one.
    testdata::Bytes plain = testdata::SmallFont(kRev, "Sorame Gothic W3");
    const Case cases[] = {
        {"65,526 records x 65,535 bytes", testdata::ClaimingNameFont(kRev, 65526, 65535)},
        {"32,769 records x 65,535 bytes", testdata::ClaimingNameFont(kRev, 32769, 65535)},
        {"20 entries, 5,000 records x 65,535", testdata::ClaimingNameFont(kRev, 5000, 65535, 65536, 20)},
        {"well-formed font", plain},
    };
    std::printf("%-38s %10s %8s %12s %10s %8s\n", "font", "bytes", "answer", "best ms", "peak MB", "peak/file");
    for (const Case& c : cases) {
        {
            std::FILE* out = std::fopen(sim::HostPath(kPath).c_str(), "wb");
            std::fwrite(c.font.data(), 1, c.font.size(), out);
            std::fclose(out);
        }
        double best = 1e9;
        int answer = -1;
        size_t peak = 0;
        for (int round = 0; round < 7; ++round) {
            const size_t before = g_heldBytes.load();
            g_peakBytes = before;
            const auto start = Clock::now();
            {
                COpenTypeManager m;
                int revision = 0;
                answer = m.IsTargetFont(kPath, &entry, &revision);
            }
            best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            peak = std::max(peak, g_peakBytes.load() - before);
        }
        std::printf("%-38s %10zu %8d %12.2f %10.2f %8.1f\n", c.what, c.font.size(), answer, best,
                    static_cast<double>(peak) / (1 << 20), static_cast<double>(peak) / static_cast<double>(c.font.size()));
    }
    sim::Reset();
    fs::remove_all(root);
    return 0;
}
