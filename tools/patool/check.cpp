// patool check OLD FILE.pa NEW.
#include "tools/patool/internal.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

int Check(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
    const std::string& oldPath = a[0];
    const std::string& paPath = a[1];
    const std::string& newPath = a[2];
    Bytes expected;
    std::string why;
    if (!ReadHost(newPath, &expected, &why)) return Fail(err, Failure{kExitUnreadable, why});
    if (!IsCffFont(expected)) return Fail(err, Failure{kExitNotAFont, "'" + newPath + "' is not a CFF OpenType font"});
    std::string report;
    Failure failure;
    const int r = CheckDifference(oldPath, paPath, expected, newPath, &report, &failure);
    if (r < 0) return Fail(err, failure);
    out << report << "\n";
    return r == 0 ? kExitOk : kExitNoMatch;
}

}  // namespace internal
}  // namespace patool
