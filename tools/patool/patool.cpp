#include "tools/patool/patool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <set>
#include <sstream>

#include "engine/manager.h"
#include "engine/manifest.h"
#include "engine/release.h"
#include "engine/sabuncheck.h"
#include "tools/paproducer/paproducer.h"
#include "tools/patool/internal.h"
#ifndef _WIN32
#include "platform/sim/sim.h"
#endif

namespace patool {

namespace internal {

namespace fs = std::filesystem;

const char kUsage[] =
    "usage: patool make OLD NEW OUT.pa\n"
    "       patool show FILE.pa [--font OLD]\n"
    "       patool apply FONT FILE.pa OUT\n"
    "       patool check OLD FILE.pa NEW\n"
    "       patool release OLD_DIR NEW_DIR OUT_DIR [--with-updater upd.exe]\n"
    "       patool verify HOST_DIR [FONT...]\n"
    "       patool --help\n";

const char kHelp[] =
    "\n"
    "  make   writes the difference file that turns the font OLD into NEW; its\n"
    "         header names OLD (its fifth name record) and OLD's head.fontRevision.\n"
    "  show   prints the file's header, records and block lists and names every\n"
    "         rule of the format it breaks; with --font, also checks it against OLD.\n"
    "  apply  builds the revised font from FONT exactly as the updater does (serial\n"
    "         strings carried over, checksums recomputed) and writes it to OUT;\n"
    "         FONT is left alone.\n"
    "  check  says whether FILE.pa turns OLD into NEW, leaving aside the name ID 13\n"
    "         strings (the updater fills them in) and the checksums; and whether it\n"
    "         does so for copies of OLD whose serial strings are longer and shorter,\n"
    "         as customers' copies are.\n"
    "  release  pairs the fonts of OLD_DIR and NEW_DIR by the catalogue's font file\n"
    "         names, makes and checks the difference file of every pair whose\n"
    "         revision changed, and writes them under the catalogue's difference-file\n"
    "         names into OUT_DIR/host (with --with-updater, the updater beside it as\n"
    "         upd.exe).  Fonts the catalogue does not name, fonts in one folder only,\n"
    "         fonts whose revision did not change and fonts that cannot be loaded are\n"
    "         reported and left out; the others are released.  When a difference\n"
    "         file cannot be made, checked or written, nothing is written at all.\n"
    "  verify checks every difference file of HOST_DIR against the release\n"
    "         manifest there, and each FONT named against the files for it, as the\n"
    "         updater would before revising it.\n"
    "\n"
    "  make and release write the release manifest (release.sha256) beside the\n"
    "  difference files: each file's SHA-256, that of the old font's bytes it\n"
    "  takes and that of the revised font.  apply, check, show and verify check\n"
    "  a file listed there as the updater does.\n"
    "\n"
    "exit codes:\n"
    "   0  done (show: well-formed; check: the file turns OLD into NEW)\n"
    "   1  check: the file does not turn OLD into NEW\n"
    "   2  wrong arguments\n"
    "   3  an input file cannot be read\n"
    "   4  an input is not a CFF OpenType font the updater can load\n"
    "   5  the input is not a difference file\n"
    "   6  the difference file breaks a rule of the format\n"
    "   7  the difference file is not for this font\n"
    "   8  the output cannot be written\n"
    "   9  make: the two fonts do not have the same tables\n"
    "  10  the updater's engine refused to build the font\n"
    "  11  release: a font that the catalogue does not name\n"
    "  12  release: a font in only one of the two folders\n"
    "  13  release: a font whose revision did not change\n"
    "  14  the difference file is not the one its release manifest lists, or the\n"
    "      manifest beside it cannot be used\n"
    "  15  the font is not the one the difference file was made from (manifest)\n"
    "  16  the font built is not the one released (manifest)\n"
    "      (release: when fonts were left out for several reasons, the first of 4,\n"
    "      12, 11, 13; when a difference file failed, its code and nothing written)\n";

// Big-endian fields of a host file's bytes, through the engine's own
// readers; the caller has checked that they are there.
uint32_t U32At(const Bytes& b, size_t at) { return GetU32(b.data() + at); }
uint16_t U16At(const Bytes& b, size_t at) { return GetU16(b.data() + at); }

std::string Hex(uint32_t v, int width = 8) {
    std::ostringstream s;
    s << "0x" << std::hex << std::uppercase << std::setw(width) << std::setfill('0') << v;
    return s.str();
}

std::string Quoted(const BYTE* tag) {
    std::string s = "'";
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = tag[i];
        if (c >= 0x20 && c < 0x7F) {
            s += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            s += esc;
        }
    }
    return s + "'";
}

std::string RevisionText(uint32_t raw) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u", raw >> 16, static_cast<unsigned>(((raw & 0xFFFF) * 1000 + 0x8000) >> 16));
    return text;
}

// Opens a host file for reading without waiting on it: a FIFO or a device
// would block an open or a read for ever, so anything but a regular file is
// refused.  -1 with *why set when it cannot be read.
int OpenRegular(const std::string& path, std::string* why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot read '" + path + "'" + (errno == ENOENT ? ": no such file" : "");
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        *why = "cannot read '" + path + (folder ? "': it is a folder" : "': not a regular file");
        return -1;
    }
    return fd;
}

// Whether the host file at path can be opened for reading; *why says why not,
// in ReadHost's words.
bool CanRead(const std::string& path, std::string* why) {
    const int fd = OpenRegular(path, why);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool ReadHost(const std::string& path, Bytes* bytes, std::string* why) {
    const int fd = OpenRegular(path, why);
    if (fd < 0) return false;
    bytes->clear();
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            *why = "cannot read '" + path + "'";
            return false;
        }
        if (n == 0) break;
        bytes->insert(bytes->end(), buffer, buffer + n);
    }
    ::close(fd);
    return true;
}

// Writes beside the target first, so that a failed write leaves no half file
// under the target's name.
bool WriteHost(const std::string& path, const Bytes& bytes) {
    const std::string temp = path + ".patool-" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) std::remove(temp.c_str());
    return !ec;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// The path under which the engine reaches a host file.  Off Windows the
// engine runs on the simulated machine, whose drive P: is the host's root.
std::string EnginePath(const std::string& hostPath) {
    std::error_code ec;
    fs::path absolute = fs::absolute(hostPath, ec);
    if (ec) absolute = hostPath;
#ifdef _WIN32
    return absolute.string();
#else
    // Mapped on every call: whoever else drives the simulated machine in
    // this process may have reset it since.
    sim::MapDrive('P', "/");
    std::string path = "P:";
    for (char c : sim::AnsiFromUtf8(absolute.lexically_normal().string())) path += c == '/' ? '\\' : c;
    return path;
#endif
}

bool IsCffFont(const Bytes& font) { return font.size() >= kOffsetTableSize && U32At(font, 0) == kSfntVersionCff; }

// ---------------------------------------------------------------------------
// Reading a difference file for inspection.

// A problem of the file's structure, found while it is parsed.
struct ParseFault {
    std::string rule;
    std::string text;
};

// The file parsed as far as it goes: every record that lies inside the file,
// every block that does, each fault of its structure named.
struct Inspected {
    CMakeSabunData data;
    std::vector<ParseFault> faults;
    bool headerComplete = false;
};

void Inspect(const Bytes& file, Inspected* in) {
    CMakeSabunData& d = in->data;
    std::vector<SabunReadFault> faults;
    d.ReadBytes(file.data(), static_cast<uint32_t>(file.size()), &faults);
    in->headerComplete = file.size() >= kSabunHeaderSize;
    for (const SabunReadFault& f : faults) {
        const CSabunTagObject* record = f.record >= 0 ? d.Record(f.record) : nullptr;
        const std::string which =
            record ? "record " + std::to_string(f.record) + " (" + Quoted(record->m_recordTag) + ")" : std::string();
        switch (f.kind) {
        case kReadHeaderCut:
            in->faults.push_back(ParseFault{"header-cut", "the file ends inside the " +
                                                              std::to_string(kSabunHeaderSize) + "-byte header (" +
                                                              std::to_string(file.size()) + " bytes)"});
            break;
        case kReadRecordsCut:
            in->faults.push_back(ParseFault{"records-cut", "the " + std::to_string(d.Header().tableCount) +
                                                               " table records run past the end of the file"});
            break;
        case kReadListOffset:
            in->faults.push_back(ParseFault{"list-offset", which + ": its block list offset " +
                                                               std::to_string(record->m_dataOffset) +
                                                               " is not inside the file"});
            break;
        case kReadListCut:
            in->faults.push_back(ParseFault{
                "list-cut", which + ": its block list runs past the end of the file (after " +
                                std::to_string(record->m_copyBlocks.GetSize()) + " copy and " +
                                std::to_string(record->m_literalBlocks.GetSize()) + " literal blocks)"});
            break;
        case kReadListsShared:
            in->faults.push_back(ParseFault{"lists-shared", which + ": with its block list, the lists read take "
                                                                    "more bytes than the file holds (records share "
                                                                    "one list)"});
            break;
        }
    }
}

const char* RuleName(SabunFaultKind kind) {
    switch (kind) {
    case kFaultTableCount: return "table-count";
    case kFaultFileLengthAlign: return "file-length-align";
    case kFaultFileLengthShort: return "file-length-short";
    case kFaultFileLengthLarge: return "file-length-large";
    case kFaultIndexRange: return "slot-range";
    case kFaultIndexTwice: return "slot-twice";
    case kFaultSlotEmpty: return "slot-empty";
    case kFaultTagTwice: return "tag-twice";
    case kFaultTagUnknown: return "tag-unknown";
    case kFaultOldTableMissing: return "old-table-missing";
    case kFaultOffsetAlign: return "offset-align";
    case kFaultOverDirectory: return "over-directory";
    case kFaultPastFileEnd: return "past-end";
    case kFaultOverlap: return "overlap";
    case kFaultCopyOutside: return "copy-outside";
    case kFaultUnfilled: return "unfilled-bytes";
    case kFaultCopiedTooMuch: return "copied-too-much";
    }
    return "unknown";
}

// Rules that only the installed font can break: the file is sound, but not
// for this font.
bool AboutTheFont(SabunFaultKind kind) {
    return kind == kFaultTableCount || kind == kFaultTagUnknown || kind == kFaultOldTableMissing ||
           kind == kFaultCopyOutside;
}

std::string FaultText(const SabunFault& f, const CMakeSabunData& d, const COpenTypeManager* font) {
    auto name = [&](int r) {
        return "record " + std::to_string(r) + " (" + Quoted(d.Record(r)->m_recordTag) + ")";
    };
    const SabunHeader& h = d.Header();
    switch (f.kind) {
    case kFaultTableCount:
        return "the file has " + std::to_string(h.tableCount) + " table records (" +
               std::to_string(d.RecordCount()) + " readable), the font has " +
               std::to_string(font ? font->Header().m_numTables : 0) + " tables";
    case kFaultFileLengthAlign:
        return "newFileLength " + std::to_string(h.newFileLength) + " is not a multiple of 4";
    case kFaultFileLengthShort:
        return "newFileLength " + std::to_string(h.newFileLength) + " does not hold the offset table and a " +
               std::to_string(h.tableCount) + "-record directory";
    case kFaultFileLengthLarge:
        return "newFileLength " + std::to_string(h.newFileLength) + " is larger than any font the updater builds";
    case kFaultIndexRange:
        return name(f.record) + ": directory slot " + std::to_string(d.Record(f.record)->m_newIndex) +
               " is not below the table count " + std::to_string(h.tableCount);
    case kFaultIndexTwice:
        return name(f.record) + ": directory slot " + std::to_string(d.Record(f.record)->m_newIndex) +
               " is already taken by " + name(f.other);
    case kFaultSlotEmpty: return "no record takes directory slot " + std::to_string(f.other);
    case kFaultTagTwice: return name(f.record) + ": the tag is already used by " + name(f.other);
    case kFaultTagUnknown: return name(f.record) + ": the font has no table of this tag";
    case kFaultOldTableMissing: return name(f.record) + ": the font's table lies outside its file";
    case kFaultOffsetAlign:
        return name(f.record) + ": newOffset " + std::to_string(d.Record(f.record)->m_newOffset) +
               " is not a multiple of 4";
    case kFaultOverDirectory:
        return name(f.record) + ": newOffset " + std::to_string(d.Record(f.record)->m_newOffset) +
               " lies inside the offset table and directory (" +
               std::to_string(kOffsetTableSize + kTableRecordSize * h.tableCount) + " bytes)";
    case kFaultPastFileEnd:
        return name(f.record) + ": the table (offset " + std::to_string(d.Record(f.record)->m_newOffset) +
               ", padded) reaches past newFileLength " + std::to_string(h.newFileLength);
    case kFaultOverlap: return name(f.record) + ": the table overlaps that of " + name(f.other);
    case kFaultCopyOutside: {
        const COldTagObject* b = d.Record(f.record)->CopyBlock(f.block);
        return name(f.record) + ": copy block " + std::to_string(f.block) + " (source " +
               std::to_string(b->m_srcOffset) + ", " + std::to_string(b->m_length) +
               " bytes) reads outside the font's table";
    }
    case kFaultUnfilled:
        return "newFileLength " + std::to_string(h.newFileLength) +
               " leaves more bytes to no table or block than the whole font is long";
    case kFaultCopiedTooMuch: return "the copy blocks take more than twice the font's length from it";
    }
    return "unknown fault";
}

// What the font says it is, for a message: its fifth name string and its
// head.fontRevision, or that it has no head table.
std::string IdentityText(const COpenTypeManager& m) {
    const COpenTypeManager::Identity identity = m.ReadIdentity();
    return "\"" + std::string(identity.name) + "\"" +
           (identity.hasHead ? " revision " + RevisionText(identity.revision) : std::string(" without a head table"));
}

std::string HeaderName(const SabunHeader& h) {
    char name[33] = {};
    std::memcpy(name, h.fontName, 32);
    return name;
}

// The difference file as the folder scan lists it: the font and revision
// the updater revises with it.
DiffFileRecord EntryOf(const SabunHeader& h) {
    DiffFileRecord entry = {};
    std::memcpy(entry.fontName, h.fontName, 32);
    entry.fromRevision = static_cast<int>(h.fromRevision);
    return entry;
}

// The first bytes of a host file, enough to tell a CFF font by.
Bytes FirstBytes(const std::string& path) {
    Bytes first(kOffsetTableSize);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(first.data()), static_cast<std::streamsize>(first.size()));
    first.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return first;
}

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
    if (in.headerComplete) CheckSabunData(in.data, &font, &faults);
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

// ---------------------------------------------------------------------------
// Comparing a built font with the release it should equal.

// Marks the bytes of a font that the updater fills in itself, as the
// engine decides them for the release manifest's digests.
std::vector<bool> FilledInBytes(const Bytes& font) {
    std::vector<bool> mask(font.size(), false);
    std::vector<Extent> ranges;
    FilledInRanges(font.data(), font.size(), &ranges);
    for (const Extent& e : ranges) std::fill(mask.begin() + static_cast<long>(e.from), mask.begin() + static_cast<long>(e.to), true);
    return mask;
}

std::string Where(const Bytes& font, size_t at) {
    if (at < kOffsetTableSize) return "offset table";
    const uint32_t count = U16At(font, 4);
    if (at < TableRecordAt(count)) return "directory record " + std::to_string((at - kOffsetTableSize) / kTableRecordSize);
    for (uint32_t i = 0; i < count && InImage(font.size(), TableRecordAt(i), kTableRecordSize); ++i) {
        const TableRecord t = TableRecord::Read(font.data() + TableRecordAt(i));
        if (at >= t.offset && at - t.offset < t.length) {
            return "table " + Quoted(t.tag) + " at +" + std::to_string(at - t.offset);
        }
    }
    return "padding";
}

// Whether built equals expected apart from what the updater fills in; when
// not, *how says where they part.
bool SameApartFromFilledIn(const Bytes& built, const Bytes& expected, std::string* how) {
    const std::vector<bool> maskBuilt = FilledInBytes(built), maskExpected = FilledInBytes(expected);
    const size_t common = std::min(built.size(), expected.size());
    size_t differing = 0, first = common;
    for (size_t i = 0; i < common; ++i) {
        if (built[i] != expected[i] && !maskBuilt[i] && !maskExpected[i]) {
            if (differing++ == 0) first = i;
        }
    }
    if (built.size() == expected.size() && differing == 0) return true;
    how->clear();
    if (built.size() != expected.size()) {
        *how += " the built font has " + std::to_string(built.size()) + " bytes, NEW " +
                std::to_string(expected.size()) + ";";
    }
    if (differing != 0) {
        *how += " " + std::to_string(differing) + " bytes differ, the first at " + std::to_string(first) + " (" +
                Where(expected, first) + " of NEW)";
    }
    return false;
}

// A copy of font as another customer would have it: the same font, with
// serial strings (name ID 13) `units` characters longer, or shorter when
// units is negative, and every string and table after them moved to match.
// The fifth name record names the font and is left alone whatever its ID.
// False when the font has no serial string to change or its name table does
// not hold together.
bool WithOtherSerials(const Bytes& font, int units, Bytes* copy) {
    if (font.size() < kOffsetTableSize) return false;
    const uint32_t numTables = U16At(font, 4);
    if (!InImage(font.size(), kOffsetTableSize, static_cast<uint64_t>(kTableRecordSize) * numTables)) return false;
    struct Table {
        uint32_t slot, offset, length;
    };
    std::vector<Table> tables;
    int nameSlot = -1, headSlot = -1;
    for (uint32_t i = 0; i < numTables; ++i) {
        const TableRecord record = TableRecord::Read(font.data() + TableRecordAt(i));
        const Table t{i, record.offset, record.length};
        if (!InImage(font.size(), t.offset, t.length)) return false;
        if (record.HasTag("name") && nameSlot < 0) nameSlot = static_cast<int>(i);
        if (record.HasTag("head") && headSlot < 0) headSlot = static_cast<int>(i);
        tables.push_back(t);
    }
    if (nameSlot < 0) return false;

    // The name table again, its strings laid out in record order; records
    // that shared a string go on sharing it.
    const Table& name = tables[static_cast<size_t>(nameSlot)];
    const Bytes old(font.begin() + name.offset, font.begin() + name.offset + name.length);
    if (old.size() < kNameHeaderSize) return false;
    const NameTableHeader header = NameTableHeader::Read(old.data());
    const uint32_t count = header.count, storage = header.stringOffset;
    const uint64_t recordsEnd = NameRecordAt(count);
    if (recordsEnd > storage || storage > old.size()) return false;
    Bytes table(old.begin(), old.begin() + storage);
    Bytes strings;
    std::vector<std::pair<uint32_t, uint32_t>> placed;  // (old offset << 16 | length, new offset)
    bool changed = false;
    for (uint32_t j = 0; j < count; ++j) {
        const size_t r = static_cast<size_t>(NameRecordAt(j));
        NameRecord record = NameRecord::Read(old.data() + r);
        const uint32_t platform = record.platformID, nameID = record.nameID;
        const uint32_t length = record.length, offset = record.offset;
        if (!InImage(old.size(), static_cast<uint64_t>(storage) + offset, length)) return false;
        Bytes text(old.begin() + storage + offset, old.begin() + storage + offset + length);
        const bool serial = nameID == kLicenseNameID && j != 4;
        if (serial) {
            // Macintosh strings are single bytes, all others UTF-16.
            const size_t unit = platform == kPlatformMacintosh ? 1 : 2;
            if (units > 0) {
                for (int k = 0; k < units; ++k) {
                    if (unit == 2) text.push_back(0);
                    text.push_back('7');
                }
            } else {
                const size_t drop = std::min(text.size() / unit, static_cast<size_t>(-units)) * unit;
                if (drop == 0) continue;
                text.resize(text.size() - drop);
            }
            changed = true;
        }
        uint32_t at = static_cast<uint32_t>(strings.size());
        const uint32_t key = offset << 16 | length;
        bool shared = false;
        for (const auto& p : placed) {
            if (!serial && p.first == key) {
                at = p.second;
                shared = true;
                break;
            }
        }
        if (!shared) {
            if (!serial) placed.emplace_back(key, at);
            strings.insert(strings.end(), text.begin(), text.end());
        }
        if (at > 0xFFFF || text.size() > 0xFFFF) return false;
        record.length = static_cast<uint16_t>(text.size());
        record.offset = static_cast<uint16_t>(at);
        record.Write(table.data() + r);
    }
    if (!changed) return false;
    table.insert(table.end(), strings.begin(), strings.end());

    // Every table in its old data order, each on a four-byte boundary.
    std::vector<Table> byOffset = tables;
    std::stable_sort(byOffset.begin(), byOffset.end(), [](const Table& a, const Table& b) { return a.offset < b.offset; });
    copy->assign(font.begin(), font.begin() + kOffsetTableSize + kTableRecordSize * numTables);
    for (const Table& t : byOffset) {
        copy->resize((copy->size() + 3) / 4 * 4, 0);
        const size_t r = kOffsetTableSize + kTableRecordSize * t.slot;
        const size_t at = copy->size();
        if (static_cast<int>(t.slot) == nameSlot) {
            copy->insert(copy->end(), table.begin(), table.end());
        } else {
            copy->insert(copy->end(), font.begin() + t.offset, font.begin() + t.offset + t.length);
        }
        const uint32_t length = static_cast<uint32_t>(copy->size() - at);
        PutU32(copy->data() + r + 8, static_cast<uint32_t>(at));
        PutU32(copy->data() + r + 12, length);
        if (static_cast<int>(t.slot) == nameSlot) {
            PutU32(copy->data() + r + 4, CalcCheckSum(copy->data() + at, static_cast<int32_t>(length)));
        }
    }
    copy->resize((copy->size() + 3) / 4 * 4, 0);
    if (headSlot >= 0) {
        const size_t r = kOffsetTableSize + kTableRecordSize * static_cast<size_t>(headSlot);
        const TableRecord head = TableRecord::Read(copy->data() + r);
        if (head.length >= 12) {
            PutU32(copy->data() + head.offset + 8, 0);
            PutU32(copy->data() + head.offset + 8,
                   0xB1B0AFBAu - CalcCheckSum(copy->data(), static_cast<int32_t>(copy->size())));
        }
    }
    return true;
}

// Builds from fontHost with the difference file and compares the result with
// expected: 0 when they agree, 1 when they do not (*how says where), -1 when
// nothing was built (*failure says why).
int BuildAndCompare(const std::string& fontHost, const std::string& paHost, const Bytes& expected, std::string* how,
                    Failure* failure) {
    static int serial = 0;
    std::error_code ec;
    const std::string temp = (fs::temp_directory_path(ec) / ("patool-check-" + std::to_string(::getpid()) + "-" +
                                                             std::to_string(++serial) + ".otf"))
                                 .string();
    if (!BuildRevision(fontHost, paHost, temp, failure)) {
        std::remove(temp.c_str());
        return -1;
    }
    Bytes built;
    std::string why;
    const bool read = ReadHost(temp, &built, &why);
    std::remove(temp.c_str());
    if (!read) {
        *failure = Failure{kExitWriteFailed, why};
        return -1;
    }
    return SameApartFromFilledIn(built, expected, how) ? 0 : 1;
}

// Whether the difference file turns OLD into NEW, and copies of OLD whose
// serial strings are longer and shorter as well: customers' copies differ
// there, and a file that takes anything from the old name table by its
// position gives them garbage names.  0 when it does (*report says so); 1
// when it does not (*report says where); -1 when OLD, the file or a
// temporary file cannot be used (*failure says why).
int CheckDifference(const std::string& oldPath, const std::string& paPath, const Bytes& expected,
                    const std::string& newName, std::string* report, Failure* failure) {
    std::string how;
    int r = BuildAndCompare(oldPath, paPath, expected, &how, failure);
    if (r < 0) return r;
    if (r > 0) {
        *report = "'" + paPath + "' does not turn '" + oldPath + "' into '" + newName + "':" + how;
        return 1;
    }
    Bytes old;
    std::string why;
    if (!ReadHost(oldPath, &old, &why)) {
        *failure = Failure{kExitUnreadable, why};
        return -1;
    }
    int variants = 0;
    for (const int units : {+19, -7}) {
        Bytes copy;
        if (!WithOtherSerials(old, units, &copy)) continue;
        ++variants;
        const char* which = units > 0 ? "longer" : "shorter";
        std::error_code ec;
        const std::string copyPath = (fs::temp_directory_path(ec) / ("patool-copy-" + std::to_string(::getpid()) +
                                                                     "-" + which + ".otf"))
                                         .string();
        if (!WriteHost(copyPath, copy)) {
            *failure = Failure{kExitWriteFailed, "cannot write '" + copyPath + "'"};
            return -1;
        }
        Failure built;
        r = BuildAndCompare(copyPath, paPath, expected, &how, &built);
        std::remove(copyPath.c_str());
        const std::string what = "'" + paPath + "' does not turn a copy of '" + oldPath + "' with " + which +
                                 " serial strings into '" + newName + "':";
        if (r < 0 && (built.code == kExitWriteFailed || built.code == kExitUnreadable)) {
            *failure = built;
            return -1;
        }
        if (r != 0) {
            *report = what + (r < 0 ? " " + built.message : how);
            return 1;
        }
    }
    *report = "'" + paPath + "' turns '" + oldPath + "' into '" + newName + "' (name ID 13 strings and checksums aside)" +
              (variants == 2   ? ", also from copies of it with longer and shorter serial strings"
               : variants == 1 ? ", also from a copy of it with longer serial strings"
                               : "; it has no serial strings to vary");
    return 0;
}

// ---------------------------------------------------------------------------
// Commands.

int Fail(std::ostream& err, const Failure& f) {
    err << "patool: " << f.message << "\n";
    return f.code;
}

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

    std::vector<SabunFault> faults;
    if (in.headerComplete) CheckSabunData(d, fontPath ? &font : nullptr, &faults);
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

using namespace internal;

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progressLine) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            out << kUsage << kHelp;
            return kExitOk;
        }
    }
    if (args.empty()) {
        err << kUsage;
        return kExitUsage;
    }
    const std::string& command = args[0];
    std::vector<std::string> rest;
    // The one option each of two commands takes: show --font, release --with-updater.
    const char* option = command == "show" ? "--font" : command == "release" ? "--with-updater" : nullptr;
    bool haveOption = false;
    std::string optionValue;
    for (size_t i = 1; i < args.size(); ++i) {
        if (option && args[i] == option) {
            if (i + 1 >= args.size() || haveOption) {
                err << "patool: " << option << (command == "show" ? " needs one font\n" : " needs one file\n")
                    << kUsage;
                return kExitUsage;
            }
            optionValue = args[++i];
            haveOption = true;
        } else if (args[i].size() > 1 && args[i][0] == '-' && args[i][1] == '-') {
            err << "patool: unknown option '" << args[i] << "'\n" << kUsage;
            return kExitUsage;
        } else {
            rest.push_back(args[i]);
        }
    }
    const size_t wanted = command == "show" ? 1 : 3;
    if (command == "verify") {
        if (rest.empty()) {
            err << "patool: verify takes a host folder and any number of fonts\n" << kUsage;
            return kExitUsage;
        }
        return Verify(rest, out, err);
    }
    if (command != "make" && command != "show" && command != "apply" && command != "check" && command != "release") {
        err << "patool: unknown command '" << command << "'\n" << kUsage;
        return kExitUsage;
    }
    if (rest.size() != wanted) {
        const char* what = command == "release" ? " folders" : wanted == 1 ? " file" : " files";
        err << "patool: " << command << " takes " << wanted << what << ", not " << rest.size() << "\n" << kUsage;
        return kExitUsage;
    }
    if (command == "make") return Make(rest, out, err);
    if (command == "show") return Show(rest[0], haveOption ? &optionValue : nullptr, out, err);
    if (command == "apply") return Apply(rest, out, err);
    if (command == "release") return Release(rest, haveOption ? optionValue : std::string(), progressLine, out, err);
    return Check(rest, out, err);
}

}  // namespace patool
