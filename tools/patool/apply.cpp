// patool apply FONT FILE.pa OUT.
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tools/patool/internal.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

namespace fs = std::filesystem;

int Apply(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
    const std::string& fontPath = a[0];
    const std::string& paPath = a[1];
    const std::string& outPath = a[2];
    if (SameFile(outPath, fontPath) || SameFile(outPath, paPath)) {
        return Fail(err, Failure{kExitUsage, "OUT must not be FONT or FILE.pa itself"});
    }
    // Built beside OUT and moved over it only when complete.
    const std::string temp = outPath + ".patool-" + std::to_string(::getpid());
    Failure failure;
    if (!BuildRevision(fontPath, paPath, temp, &failure)) {
        std::remove(temp.c_str());
        return Fail(err, failure);
    }
    std::error_code ec;
    fs::rename(temp, outPath, ec);
    if (ec) {
        std::remove(temp.c_str());
        return Fail(err, Failure{kExitWriteFailed, "cannot write '" + outPath + "'"});
    }
    out << "wrote " << outPath << "\n";
    return kExitOk;
}

}  // namespace internal
}  // namespace patool
