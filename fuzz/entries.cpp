#include "fuzz/entries.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/headname.h"
#include "engine/manager.h"
#include "engine/manifest.h"
#include "engine/release.h"
#include "engine/sabun.h"
#include "platform/sim/sim.h"
#include "tools/paproducer/paproducer.h"

namespace fuzzentry {
namespace {

const char kFontPath[] = "Z:\\Fonts\\Target.otf";
const char kDiffPath[] = "Z:\\Host\\Target.pa";
const char kTempPath[] = "Z:\\Temp\\17000000001";
const char kManifestPath[] = "Z:\\Host\\release.sha256";
const char kDiffName[] = "Target.pa";
const uint32_t kWholeFileSum = 0xB1B0AFBAu;

struct State {
    std::string work;  // host folder behind Z:
    std::vector<uint8_t> font, diff;
    DiffFileRecord entry{};
    // Made on first use: the manifest of the real pair and the font it builds.
    std::string manifest;
    std::vector<uint8_t> release;
};

State& S() {
    static State state;
    return state;
}

std::vector<uint8_t> ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteHostFile(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0 && done == size;
}

// A fresh machine for every input: no handle, rule or file of the one before.
void FreshMachine() {
    sim::Reset();
    sim::MapDrive('Z', S().work);
    ::unlink((S().work + "/Temp/17000000001").c_str());
    // Only the entries that mean to have a manifest beside the file put one there.
    ::unlink((S().work + "/Host/release.sha256").c_str());
}

void Put(const char* windowsPath, const uint8_t* data, size_t size) {
    if (!WriteHostFile(sim::HostPath(windowsPath), data, size)) ::abort();  // the harness itself is broken
}

void ExpectNoHandles(Outcome* o) {
    if (sim::OpenHandleCount() != 0) o->fault += "handle left open; ";
}

uint32_t WordSum(const std::vector<uint8_t>& b) {
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 4) {
        uint32_t word = 0;
        for (size_t k = 0; k < 4; ++k) word = word << 8 | (i + k < b.size() ? b[i + k] : 0u);
        sum += word;
    }
    return sum;
}

// Loads the font, takes its serial strings and builds the revised font as
// the driver does; a build reported as done must have left a whole font,
// which is kept in *built when asked for.  With manifest, that text lies
// beside the difference file as its release manifest.
Outcome Build(const uint8_t* font, size_t fontSize, const uint8_t* diff, size_t diffSize,
              const std::string* manifest = nullptr, std::vector<uint8_t>* built = nullptr) {
    FreshMachine();
    Put(kFontPath, font, fontSize);
    Put(kDiffPath, diff, diffSize);
    if (manifest) Put(kManifestPath, reinterpret_cast<const uint8_t*>(manifest->data()), manifest->size());
    Outcome o;
    COpenTypeManager m;
    o.result = m.LoadFont(kFontPath, nullptr, nullptr, 1, 0);
    if (o.result == kReviseOk) {
        m.TakeSerialStrings();
        o.result = m.CreateRevisedFile(kFontPath, kDiffPath, kTempPath, nullptr, nullptr, 1, 0);
        if (o.result == kReviseOk) {
            const std::vector<uint8_t> out = ReadHostFile(sim::HostPath(kTempPath));
            if (!m.SabunData() || out.size() != m.SabunData()->Header().newFileLength) {
                o.fault += "written font has another length than the difference file gives; ";
            }
            if (WordSum(out) != kWholeFileSum) o.fault += "written font's checksum adjustment is wrong; ";
            if (WordSum(out) != m.OutputSum()) o.fault += "sum kept for the read-back is not the file's; ";
            if (built) *built = out;
        }
    }
    ExpectNoHandles(&o);
    return o;
}

Outcome IsTargetFontEntry(const uint8_t* data, size_t size) {
    FreshMachine();
    Put(kFontPath, data, size);
    Outcome o;
    COpenTypeManager m;
    int revision = 0;
    o.result = m.IsTargetFont(kFontPath, &S().entry, &revision);
    if (m.Image()) o.fault += "image kept after identification; ";
    ExpectNoHandles(&o);
    return o;
}

Outcome LoadFontEntry(const uint8_t* data, size_t size) {
    FreshMachine();
    Put(kFontPath, data, size);
    Outcome o;
    COpenTypeManager m;
    o.result = m.LoadFont(kFontPath, nullptr, nullptr, 1, 0);
    if (o.result == kReviseOk) {
        // Every table the builder will take bytes from lies inside the image.
        for (INT_PTR i = 0; i < m.TagCount(); ++i) {
            const CTagObject* tag = m.Tag(i);
            if (!InImage(m.ImageLength(), tag->m_offset, tag->m_length)) {
                o.fault += "loaded table outside the file; ";
            }
        }
    }
    ExpectNoHandles(&o);
    return o;
}

Outcome ReadHeaderEntry(const uint8_t* data, size_t size) {
    FreshMachine();
    Put(kDiffPath, data, size);
    Outcome o;
    CMakeSabunData d;
    char name[33] = {0};
    int revision = 0;
    o.result = d.ReadHeader(kDiffPath, name, &revision);
    if (name[32] != 0) o.fault += "font name not terminated; ";
    ExpectNoHandles(&o);
    return o;
}

Outcome ReadFileEntry(const uint8_t* data, size_t size) {
    FreshMachine();
    Put(kDiffPath, data, size);
    Outcome o;
    CMakeSabunData d;
    o.result = d.ReadFile(kDiffPath);
    if (o.result == 1) {
        // Literal bytes are the file's own: each block lies inside it.
        for (INT_PTR i = 0; i < d.RecordCount(); ++i) {
            const CSabunTagObject* r = d.Record(i);
            for (INT_PTR b = 0; b < r->m_literalBlocks.GetSize(); ++b) {
                if (r->LiteralBlock(b)->m_length > size) o.fault += "literal longer than the file; ";
            }
        }
    }
    ExpectNoHandles(&o);
    return o;
}

Outcome ReviseDiffEntry(const uint8_t* data, size_t size) {
    return Build(S().font.data(), S().font.size(), data, size);
}

Outcome ReviseFontEntry(const uint8_t* data, size_t size) {
    return Build(data, size, S().diff.data(), S().diff.size());
}

// Re-serialisation writes exactly the size it computed, and a table written
// with its storage right after the records reads back with the same strings
// (records that take a sibling's string excepted).
Outcome NameTableEntry(const uint8_t* data, size_t size) {
    Outcome o;
    if (size > 0xFFFFFFFFu) return o;
    CNameTableObject table;
    o.result = table.Parse(data, static_cast<uint32_t>(size));
    if (!o.result) {
        if (table.m_records.GetSize() != 0) o.fault += "records kept from a malformed table; ";
        return o;
    }
    if (!table.ComputeSize()) {
        if (table.m_totalSize != 0) o.fault += "a refused table has a size; ";
        return o;
    }
    std::vector<uint8_t> out(static_cast<size_t>(table.m_totalSize));
    // Exactly m_totalSize bytes on the heap: a write past them is caught.
    BYTE* exact = new BYTE[out.size() + (out.empty() ? 1 : 0)];
    table.Write(exact);
    std::memcpy(out.data(), exact, out.size());
    delete[] exact;

    // Records that take a sibling's string point wherever the sibling went
    // (or at the start of the storage): only the others are compared.
    for (INT_PTR i = 0; i < table.m_records.GetSize(); ++i) {
        const CNameRecordObject* a = table.Record(i);
        const bool shared = (a->m_platformID == 1 && a->m_encodingID == 1 && a->m_languageID == 11 && a->m_nameID == 2) ||
                            (a->m_platformID == 3 && a->m_encodingID == 1 &&
                             ((a->m_languageID == 0x409 && a->m_nameID == 6) ||
                              (a->m_languageID == 0x411 && (a->m_nameID == 2 || a->m_nameID == 17))));
        const BYTE* rec = out.data() + 6 + 12 * i;
        if (GetU16(rec) != a->m_platformID || GetU16(rec + 6) != a->m_nameID || GetU16(rec + 8) != a->m_stringLength) {
            o.fault += "record fields changed; ";
            break;
        }
        if (shared) continue;
        const uint64_t start = static_cast<uint64_t>(table.m_headerSize) + GetU16(rec + 10);
        if (!InImage(out.size(), start, a->m_stringLength) ||
            std::memcmp(out.data() + start, data + a->m_stringStart, a->m_stringLength) != 0 ||
            std::memcmp(a->m_string, data + a->m_stringStart, std::min<size_t>(a->m_stringLength, kNameStringKept)) != 0) {
            o.fault += "string not where its record says; ";
            break;
        }
    }
    return o;
}

// Large structured inputs from small ones.  A name table of tens of
// thousands of records, or a directory of thousands of entries, is far past
// what a fuzzer mutates byte by byte, yet that is where sizes overflow and
// work multiplies; these entries grow such files from a short description.

// The description's fields, read from the front with zeros past the end.
struct Reader {
    const uint8_t* data;
    size_t size, at = 0;
    uint32_t Take(int bytes) {
        uint32_t v = 0;
        for (int k = 0; k < bytes; ++k) v = v << 8 | (at < size ? data[at++] : 0u);
        return v;
    }
    const uint8_t* Rest() const { return data + (at < size ? at : size); }
    size_t RestSize() const { return at < size ? size - at : 0; }
};

void AppendU16(std::vector<uint8_t>* b, uint32_t v) {
    b->push_back(static_cast<uint8_t>(v >> 8));
    b->push_back(static_cast<uint8_t>(v));
}
void AppendU32(std::vector<uint8_t>* b, uint32_t v) {
    AppendU16(b, v >> 16);
    AppendU16(b, v & 0xFFFF);
}

// count(2) stringOffset(2) storage(3) templateCount(1) templates(12 each)
// filler...: `count` records cycling through the templates, the k-th copy of
// a template with k added to its string offset, then `storage` bytes of
// filler, repeated.
std::vector<uint8_t> GrowNameTable(Reader* r) {
    const uint32_t count = r->Take(2);
    const uint32_t stringOffset = r->Take(2);
    const uint32_t storage = r->Take(3) % (1u << 20);
    const uint32_t templates = 1 + r->Take(1) % 8;
    uint8_t record[8][12];
    for (uint32_t t = 0; t < templates; ++t) {
        for (int k = 0; k < 12; ++k) record[t][k] = static_cast<uint8_t>(r->Take(1));
    }
    std::vector<uint8_t> table;
    AppendU16(&table, 0);
    AppendU16(&table, count);
    AppendU16(&table, stringOffset);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* t = record[i % templates];
        table.insert(table.end(), t, t + 10);
        AppendU16(&table, (static_cast<uint32_t>(t[10]) << 8 | t[11]) + i / templates);
    }
    const uint8_t* filler = r->Rest();
    const size_t fillerSize = r->RestSize();
    for (uint32_t i = 0; i < storage; ++i) table.push_back(fillerSize ? filler[i % fillerSize] : static_cast<uint8_t>(i));
    return table;
}

// The grown name table through the model, and inside a font whose head
// matches, with up to 255 directory entries naming it.
Outcome NameTableLargeEntry(const uint8_t* data, size_t size) {
    Reader r{data, size};
    const uint32_t entries = 1 + r.Take(1);
    const std::vector<uint8_t> table = GrowNameTable(&r);
    Outcome o = NameTableEntry(table.data(), table.size());
    if (!o.fault.empty()) return o;

    std::vector<uint8_t> font;
    AppendU32(&font, 0x4F54544F);
    AppendU16(&font, 1 + entries);
    for (int i = 0; i < 3; ++i) AppendU16(&font, 0);
    const uint32_t headOffset = 12 + 16 * (1 + entries);
    const uint32_t nameOffset = headOffset + 56;
    font.insert(font.end(), {'h', 'e', 'a', 'd'});
    AppendU32(&font, 0);
    AppendU32(&font, headOffset);
    AppendU32(&font, 54);
    for (uint32_t i = 0; i < entries; ++i) {
        font.insert(font.end(), {'n', 'a', 'm', 'e'});
        AppendU32(&font, 0);
        AppendU32(&font, nameOffset);
        AppendU32(&font, static_cast<uint32_t>(table.size()));
    }
    font.resize(nameOffset, 0);
    font[headOffset + 1] = 1;
    // head: version 1.0 and the revision the real difference file names,
    // so that identification goes on to the name table.
    const uint32_t revision = static_cast<uint32_t>(S().entry.fromRevision);
    for (int k = 0; k < 4; ++k) {
        font[headOffset + 4 + k] = static_cast<uint8_t>(revision >> (24 - 8 * k));
    }
    font.insert(font.end(), table.begin(), table.end());
    return IsTargetFontEntry(font.data(), font.size());
}

// numTables(2) templateCount(1) templates(16 each) blob...: a directory of
// numTables entries cycling through the templates (the k-th copy of one with
// k * 4 added to its offset), followed by the blob.  Identified, loaded and
// checked against the real font's record as the driver checks it.
Outcome DirectoryLargeEntry(const uint8_t* data, size_t size) {
    Reader r{data, size};
    const uint32_t numTables = r.Take(2);
    const uint32_t templates = 1 + r.Take(1) % 8;
    uint8_t record[8][16];
    for (uint32_t t = 0; t < templates; ++t) {
        for (int k = 0; k < 16; ++k) record[t][k] = static_cast<uint8_t>(r.Take(1));
    }
    std::vector<uint8_t> font;
    AppendU32(&font, 0x4F54544F);
    AppendU16(&font, numTables);
    for (int i = 0; i < 3; ++i) AppendU16(&font, 0);
    for (uint32_t i = 0; i < numTables; ++i) {
        const uint8_t* t = record[i % templates];
        font.insert(font.end(), t, t + 8);
        AppendU32(&font, (static_cast<uint32_t>(t[8]) << 24 | t[9] << 16 | t[10] << 8 | t[11]) + i / templates * 4);
        font.insert(font.end(), t + 12, t + 16);
    }
    font.insert(font.end(), r.Rest(), r.Rest() + r.RestSize());

    Outcome o = IsTargetFontEntry(font.data(), font.size());
    if (!o.fault.empty()) return o;
    o = LoadFontEntry(font.data(), font.size());
    if (!o.fault.empty() || o.result != kReviseOk) return o;
    COpenTypeManager m;
    if (m.LoadFont(kFontPath, nullptr, nullptr, 1, 0) == kReviseOk) m.LoadedFontIs(S().entry);
    ExpectNoHandles(&o);
    return o;
}


// The release manifest.  The real pair's manifest is made as patool make
// makes it; a manifest read from any text must say of the file what its
// text says, and a build beside it must end as its digests decide.

// The real pair's three lines; false when the engine cannot give them.
bool PrepareRelease() {
    State& s = S();
    if (!s.manifest.empty()) return true;
    FreshMachine();
    Put(kFontPath, s.font.data(), s.font.size());
    COpenTypeManager m;
    std::vector<ReleaseManifestLine> lines;
    if (m.LoadFont(kFontPath, nullptr, nullptr, 1, 0) != kReviseOk ||
        !ReleaseLinesOf(m.Loaded(), s.diff.data(), static_cast<uint32_t>(s.diff.size()), s.release.data(), s.release.size(),
                        kDiffName, &lines)) {
        return false;
    }
    s.manifest = FormatReleaseManifest(lines);
    return true;
}

bool SameLines(const std::vector<ReleaseManifestLine>& a, const std::vector<ReleaseManifestLine>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].fileName != b[i].fileName || a[i].kind != b[i].kind ||
            std::memcmp(a[i].digest, b[i].digest, kDigestSize) != 0) {
            return false;
        }
    }
    return true;
}

// The font built equals the release apart from the bytes filled in per
// customer (decided on the release, which is sound).
bool IsRelease(const std::vector<uint8_t>& built) {
    const std::vector<uint8_t>& release = S().release;
    std::vector<Extent> ranges;
    if (built.size() != release.size() || !FilledInRanges(release.data(), release.size(), &ranges)) return false;
    uint64_t at = 0;
    for (const Extent& e : ranges) {
        if (std::memcmp(built.data() + at, release.data() + at, static_cast<size_t>(e.from - at)) != 0) return false;
        at = e.to;
    }
    return std::memcmp(built.data() + at, release.data() + at, static_cast<size_t>(release.size() - at)) == 0;
}

// What the build of the real pair beside a manifest that says `digests`
// must end with.
int ExpectedResult(const ReleaseDigests& digests) {
    if (digests.state == ReleaseDigests::kUnlisted) return kReviseOk;
    if (digests.state == ReleaseDigests::kRefused) return kReviseDiffNotReleased;
    std::vector<ReleaseManifestLine> real;
    ParseReleaseManifest(reinterpret_cast<const BYTE*>(S().manifest.data()), S().manifest.size(), &real);
    const ReleaseDigests truth = DigestsOf(real, kDiffName);
    if (std::memcmp(digests.file, truth.file, kDigestSize) != 0) return kReviseDiffNotReleased;
    if (std::memcmp(digests.source, truth.source, kDigestSize) != 0) return kReviseFontNotReleased;
    if (std::memcmp(digests.result, truth.result, kDigestSize) != 0) return kReviseResultNotReleased;
    return kReviseOk;
}

Outcome ReleaseManifestEntry(const uint8_t* data, size_t size) {
    Outcome o;
    if (!PrepareRelease()) {
        o.fault = "the real pair's manifest cannot be made; ";
        return o;
    }
    std::vector<ReleaseManifestLine> lines;
    const bool parsed = ParseReleaseManifest(data, size, &lines);
    if (!parsed && !lines.empty()) o.fault += "lines kept from a refused manifest; ";
    for (const ReleaseManifestLine& line : lines) {
        if (line.fileName.empty() || line.fileName.find_first_of("\\/:#") != std::string::npos) {
            o.fault += "a line names a path or a kind; ";
        }
    }
    ReleaseDigests said;
    said.state = ReleaseDigests::kRefused;
    if (parsed) {
        said = DigestsOf(lines, kDiffName);
        const std::string again = FormatReleaseManifest(lines);
        std::vector<ReleaseManifestLine> reread;
        if (!ParseReleaseManifest(reinterpret_cast<const BYTE*>(again.data()), again.size(), &reread) ||
            !SameLines(lines, reread)) {
            o.fault += "the lines written again read otherwise; ";
        }
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<uint8_t> built;
    const Outcome b = Build(S().font.data(), S().font.size(), S().diff.data(), S().diff.size(), &text, &built);
    o.result = b.result;
    o.fault += b.fault;
    if (o.result != ExpectedResult(said)) o.fault += "the build ended otherwise than the manifest's text decides; ";
    if (o.result == kReviseOk && !IsRelease(built)) o.fault += "a font built with result 0 is not the release; ";
    return o;
}

// An installed font of any bytes beside the real release: whatever is built
// with result 0 is the release.
Outcome ReviseFontReleasedEntry(const uint8_t* data, size_t size) {
    Outcome o;
    if (!PrepareRelease()) {
        o.fault = "the real pair's manifest cannot be made; ";
        return o;
    }
    std::vector<uint8_t> built;
    o = Build(data, size, S().diff.data(), S().diff.size(), &S().manifest, &built);
    if (o.result == kReviseOk && !IsRelease(built)) o.fault += "a font built with result 0 is not the release; ";
    return o;
}
}  // namespace

bool Setup(const std::string& fontDir, std::string* error) {
    State& s = S();
    if (s.work.empty()) {
        std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/fuzzentry-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        if (!::mkdtemp(buffer.data())) {
            *error = "cannot make a work folder under " + base;
            return false;
        }
        s.work = buffer.data();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(S().work, ec);
        });
        for (const char* sub : {"/Fonts", "/Host", "/Temp"}) ::mkdir((s.work + sub).c_str(), 0755);
    }
    if (!s.font.empty()) return true;
    s.font = ReadHostFile(fontDir + "/Sorame-Gothic-Pro-W3.otf");
    s.release = ReadHostFile(fontDir + "/Sorame-Gothic-Pro-W3.rev.otf");
    const std::vector<uint8_t>& release = s.release;
    if (s.font.empty() || release.empty()) {
        *error = "no Sorame-Gothic-Pro-W3 fonts in " + fontDir;
        s.font.clear();
        return false;
    }
    s.diff = paproducer::MakeDifference(s.font, release, error);
    if (s.diff.size() < kSabunProbeSize) {
        s.font.clear();
        return false;
    }
    // Identification looks for the font the difference file names.
    const SabunHeader probe = SabunHeader::ReadProbe(s.diff.data());
    std::memcpy(s.entry.fontName, probe.fontName, sizeof probe.fontName);
    s.entry.fromRevision = static_cast<int>(probe.fromRevision);
    std::strcpy(s.entry.diffPath, kDiffPath);
    std::strcpy(s.entry.fontFileName, "Target.otf");
    return true;
}

const std::vector<uint8_t>& RealFont() { return S().font; }
const std::vector<uint8_t>& RealDiff() { return S().diff; }
const std::string& RealManifest() {
    static const std::string none;
    return PrepareRelease() ? S().manifest : none;
}

const std::vector<Entry>& Entries() {
    static const std::vector<Entry> entries = {
        {"is_target_font", IsTargetFontEntry}, {"load_font", LoadFontEntry},
        {"read_header", ReadHeaderEntry},      {"read_file", ReadFileEntry},
        {"revise_diff", ReviseDiffEntry},      {"revise_font", ReviseFontEntry},
        {"name_table", NameTableEntry},        {"name_table_large", NameTableLargeEntry},
        {"directory_large", DirectoryLargeEntry},
        {"release_manifest", ReleaseManifestEntry}, {"revise_font_released", ReviseFontReleasedEntry},
    };
    return entries;
}

const Entry* FindEntry(const std::string& name) {
    for (const Entry& e : Entries()) {
        if (name == e.name) return &e;
    }
    return nullptr;
}

}  // namespace fuzzentry
