// patool make OLD NEW OUT.pa.
#include <chrono>
#include <cstdio>
#include <iomanip>

#include "tools/paproducer/paproducer.h"
#include "tools/patool/internal.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

int Make(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
    const std::string& oldPath = a[0];
    const std::string& newPath = a[1];
    const std::string& outPath = a[2];
    if (SameFile(outPath, oldPath) || SameFile(outPath, newPath)) {
        return Fail(err, Failure{kExitUsage, "OUT.pa must not be one of the fonts"});
    }
    Bytes oldFont, newFont;
    std::string why;
    if (!ReadHost(oldPath, &oldFont, &why) || !ReadHost(newPath, &newFont, &why)) {
        return Fail(err, Failure{kExitUnreadable, why});
    }
    for (const auto& f : {std::make_pair(&oldPath, &oldFont), std::make_pair(&newPath, &newFont)}) {
        if (!IsCffFont(*f.second)) return Fail(err, Failure{kExitNotAFont, "'" + *f.first + "' is not a CFF OpenType font"});
    }
    std::string error;
    paproducer::DifferenceStats stats;
    const auto started = std::chrono::steady_clock::now();
    const Bytes diff = paproducer::MakeDifference(oldFont, newFont, &error, &stats);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (diff.empty()) return Fail(err, Failure{kExitCannotPair, "cannot make a difference file: " + error});
    if (!WriteHost(outPath, diff)) return Fail(err, Failure{kExitWriteFailed, "cannot write '" + outPath + "'"});
    Failure manifestFailure;
    if (!AddToManifest(outPath, diff, oldPath, newFont, &manifestFailure)) {
        // The manifest may still list an earlier file of this name, which
        // the updater would refuse: none is better than a refused one.
        std::remove(outPath.c_str());
        return Fail(err, manifestFailure);
    }
    out << "wrote " << outPath << ": " << diff.size() << " bytes in " << std::fixed << std::setprecision(2) << seconds
        << " s; " << stats.changedTables << " tables changed, " << stats.copyBlocks << " copy blocks ("
        << stats.copiedBytes << " bytes), " << stats.literalBlocks << " literal blocks (" << stats.literalBytes
        << " bytes)\n";
    return kExitOk;
}

}  // namespace internal
}  // namespace patool
