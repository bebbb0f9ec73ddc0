// The updater's engine run on the host's files: a font loaded, a difference
// file checked against it, the revised font built as the driver builds it.
#include <cstdio>
#include <cstring>

#include "engine/manager.h"
#include "engine/manifest.h"
#include "tools/patool/inspect.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

// Loads a font with the engine, as the updater does before revising it.
// The font is read once, by the engine; only a font it refuses is looked at
// again, to say why.
bool LoadWithEngine(COpenTypeManager& m, const std::string& hostPath, Failure* failure) {
    if (m.LoadFont(EnginePath(hostPath).c_str(), nullptr, nullptr, 1, 0) == kReviseOk) return true;
    if (!IsCffFont(FirstBytes(hostPath))) {
        *failure = Failure{kExitNotAFont, "'" + hostPath + "' is not a CFF OpenType font"};
        return false;
    }
    {
        *failure = Failure{kExitNotAFont, "'" + hostPath +
                                              "' cannot be loaded for revision (a table the updater does not know, "
                                              "or a table outside the file)"};
        return false;
    }
    return true;
}

namespace {

// Reads and checks a difference file against a loaded font.  Prints nothing
// when it is sound; otherwise the failure names every rule it breaks.
bool DiffFitsFont(const std::string& paHost, const Bytes& pa, COpenTypeManager& font, const std::string& fontHost,
                  Failure* failure) {
    if (pa.size() < 4 || std::memcmp(pa.data(), kSabunMagic, 4) != 0) {
        *failure = Failure{kExitNotADiff, "'" + paHost + "' is not a difference file"};
        return false;
    }
    Inspected in;
    Inspect(pa, &in);
    std::vector<SabunFault> faults;
    if (in.headerComplete) {
        const LoadedFont loaded = font.Loaded();
        CheckSabunData(in.data, &loaded, &faults);
    }
    std::string text;
    bool malformed = !in.faults.empty();
    for (const ParseFault& f : in.faults) text += "\n  [" + f.rule + "] " + f.text;
    for (const SabunFault& f : faults) {
        malformed = malformed || !AboutTheFont(f.kind);
        text += std::string("\n  [") + RuleName(f.kind) + "] " + FaultText(f, in.data, &font);
    }
    if (!text.empty()) {
        *failure = Failure{malformed ? kExitMalformed : kExitDoesNotFit,
                           "'" + paHost + (malformed ? "' is malformed:" : "' does not fit '" + fontHost + "':") + text};
        return false;
    }

    // The updater revises only the font and revision the file names.
    if (!font.LoadedFontIsTarget(EntryOf(in.data.Header()))) {
        *failure = Failure{kExitDoesNotFit, "'" + paHost + "' is for \"" + HeaderName(in.data.Header()) +
                                                "\" revision " + RevisionText(in.data.Header().fromRevision) +
                                                ", but '" + fontHost + "' is " + IdentityText(font)};
        return false;
    }
    return true;
}

}  // namespace

// Builds the revised font into builtHost the way the updater's driver does:
// the installed font loaded, its serial strings taken, the revised file made.
bool BuildRevision(const std::string& fontHost, const std::string& paHost, const std::string& builtHost,
                   Failure* failure) {
    Bytes pa;
    std::string why;
    if (!CanRead(fontHost, &why) || !ReadHost(paHost, &pa, &why)) {
        *failure = Failure{kExitUnreadable, why};
        return false;
    }
    // Damage in transit is named as such, before the damaged file is read
    // as a difference file.
    std::string report;
    if (ManifestVerdict(paHost, pa, &report) != kExitOk) {
        *failure = Failure{kExitNotReleased, "'" + paHost + "': " + report};
        return false;
    }
    COpenTypeManager m;
    if (!LoadWithEngine(m, fontHost, failure)) return false;
    if (!DiffFitsFont(paHost, pa, m, fontHost, failure)) {
        // A file its manifest vouches for is the one released: what keeps
        // it from fitting is the font, as the updater tells the user.
        if (failure->code == kExitMalformed &&
            ReadReleaseDigests(EnginePath(paHost).c_str()).state == ReleaseDigests::kListed) {
            *failure = Failure{kExitFontNotReleased, "'" + fontHost + "' is not the font '" + paHost +
                                                         "' was made from, which it does not fit: " + failure->message};
        }
        return false;
    }

    m.TakeSerialStrings();
    const std::string fontPath = EnginePath(fontHost);
    const int result = m.CreateRevisedFile(fontPath.c_str(), EnginePath(paHost).c_str(), EnginePath(builtHost).c_str(),
                                           nullptr, nullptr, 1, 0);
    if (result == kReviseOk) return true;
    std::remove(builtHost.c_str());
    if (result == kReviseTempFailed) {
        *failure = Failure{kExitWriteFailed, "cannot write '" + builtHost + "'"};
    } else {
        *failure = FailureOfResult(result, fontHost, paHost);
    }
    return false;
}

}  // namespace internal
}  // namespace patool
