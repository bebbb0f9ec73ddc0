// patool show FILE.pa [--font OLD].
#include <cstring>
#include <iomanip>
#include <sstream>

#include "engine/manager.h"
#include "tools/patool/inspect.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

namespace {

std::string Hex(uint32_t v, int width = 8) {
    std::ostringstream s;
    s << "0x" << std::hex << std::uppercase << std::setw(width) << std::setfill('0') << v;
    return s.str();
}

// The file as read: its header, and each record with its block list.
void PrintFile(std::ostream& out, const std::string& paPath, const Bytes& pa, const Inspected& in) {
    const CMakeSabunData& d = in.data;
    const SabunHeader& h = d.Header();
    out << paPath << ": " << pa.size() << " bytes\n";
    if (in.headerComplete) {
        out << "font name       \"" << HeaderName(h) << "\"\n"
            << "from revision   " << Hex(h.fromRevision) << " (" << RevisionText(h.fromRevision) << ")\n"
            << "new file length " << h.newFileLength << "\n"
            << "table count     " << static_cast<int>(h.tableCount) << "\n"
            << "reserved        " << Hex(GetU32(h.reserved1)) << " " << Hex(GetU32(h.reserved2)) << "\n";
    }
    for (INT_PTR i = 0; i < d.RecordCount(); ++i) {
        const CSabunTagObject* r = d.Record(i);
        out << "record " << i << " " << Quoted(r->m_recordTag) << ": slot " << static_cast<int>(r->m_newIndex)
            << ", rank " << static_cast<int>(r->m_newSortedIndex) << ", offset " << r->m_newOffset << ", length "
            << r->m_newLength;
        if (r->m_dataOffset == 0) {
            out << ", taken over unchanged\n";
            continue;
        }
        out << ", block list at " << r->m_dataOffset << ": " << r->m_copyBlocks.GetSize() << " copy, "
            << r->m_literalBlocks.GetSize() << " literal\n";
        for (INT_PTR b = 0; b < r->m_copyBlocks.GetSize(); ++b) {
            const COldTagObject* c = r->CopyBlock(b);
            out << "    copy    " << c->m_length << " bytes from +" << c->m_srcOffset << " to +" << c->m_dstOffset
                << "\n";
        }
        for (INT_PTR b = 0; b < r->m_literalBlocks.GetSize(); ++b) {
            const CNewTagObject* l = r->LiteralBlock(b);
            out << "    literal " << l->m_length << " bytes to +" << l->m_dstOffset << "\n";
        }
    }
}

}  // namespace

int Show(const std::string& paPath, const std::string* fontPath, std::ostream& out, std::ostream& err) {
    Bytes pa;
    std::string why;
    if (!ReadHost(paPath, &pa, &why)) return Fail(err, Failure{kExitUnreadable, why});
    if (pa.size() < 4 || std::memcmp(pa.data(), kSabunMagic, 4) != 0) {
        return Fail(err, Failure{kExitNotADiff, "'" + paPath + "' is not a difference file (no \"RVDF\" at its start)"});
    }
    COpenTypeManager font;
    if (fontPath) {
        if (!CanRead(*fontPath, &why)) return Fail(err, Failure{kExitUnreadable, why});
        Failure failure;
        if (!LoadWithEngine(font, *fontPath, &failure)) return Fail(err, failure);
    }

    Inspected in;
    Inspect(pa, &in);
    PrintFile(out, paPath, pa, in);
    const CMakeSabunData& d = in.data;
    const SabunHeader& h = d.Header();

    std::vector<SabunFault> faults;
    if (in.headerComplete) {
        const LoadedFont loaded = font.Loaded();
        CheckSabunData(d, fontPath ? &loaded : nullptr, &faults);
    }
    bool malformed = !in.faults.empty();
    size_t broken = in.faults.size();
    for (const ParseFault& f : in.faults) out << "BROKEN [" << f.rule << "] " << f.text << "\n";
    for (const SabunFault& f : faults) {
        malformed = malformed || !AboutTheFont(f.kind);
        out << "BROKEN [" << RuleName(f.kind) << "] " << FaultText(f, d, fontPath ? &font : nullptr) << "\n";
        ++broken;
    }

    bool wrongFont = false;
    // By the updater's own rule: a font without a head table, or whose head
    // or name says otherwise, is not the one the file is for.
    if (fontPath && !malformed && broken == 0 && !font.LoadedFontIsTarget(EntryOf(h))) {
        wrongFont = true;
        out << "BROKEN [wrong-font] the file is for \"" << HeaderName(h) << "\" revision "
            << RevisionText(h.fromRevision) << ", the font is " << IdentityText(font) << "\n";
    }

    std::string release;
    const int released = ManifestVerdict(paPath, pa, &release);
    out << "release manifest: " << release << "\n";
    if (released != kExitOk) {
        err << "patool: '" << paPath << "' is not the file released\n";
        return released;
    }
    if (malformed) {
        err << "patool: '" << paPath << "' is malformed (" << broken << " rules broken)\n";
        return kExitMalformed;
    }
    if (broken != 0 || wrongFont) {
        err << "patool: '" << paPath << "' does not fit '" << *fontPath << "'\n";
        return kExitDoesNotFit;
    }
    out << (fontPath ? "well-formed, and fits the font\n" : "well-formed\n");
    return kExitOk;
}

}  // namespace internal
}  // namespace patool
