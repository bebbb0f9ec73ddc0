// outputs_aid: the two jobs of tests/outputs/outputs.py that need the tree's
// own code.
//
//   outputs_aid inputs OUT_DIR
//       writes small fonts and difference files made with the test builders:
//       NAME.otf (installed), NAME.rev.otf (its release, when there is one)
//       and NAME.CASE.pa (difference files written field by field, for NAME.otf)
//   outputs_aid entry FONT_DIR ENTRY OUT_DIR FILE...
//       runs the fuzz entry ENTRY on each FILE and writes, for the i-th,
//       OUT_DIR/i.result (the engine's answer and any fault) and OUT_DIR/i.font
//       (the font the engine left where the driver takes it from, if any)
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/entries.h"
#include "platform/sim/sim.h"
#include "tests/support/builders.h"

namespace {

using testdata::Bytes;
using testdata::BytesOf;
using testdata::DiffBuilder;
using testdata::DiffRecord;
using testdata::FontBuilder;

bool Write(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return static_cast<bool>(out);
}

Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes Filled(size_t n, int seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + seed * 31 + (i >> 5));
    return b;
}

// A small font of the tables the updater knows, with table contents that a
// revision can change in part (seed) or move (order, padding).
Bytes Font(uint32_t revision, const std::string& fullName, const std::string& macSerial, const std::string& winSerial,
           int seed, const std::vector<size_t>& order = {}, uint8_t padding = 0) {
    Bytes cff = BytesOf("CFF-BODY-");
    const Bytes body = Filled(600, 1);
    cff.insert(cff.end(), body.begin(), body.end());
    for (size_t i = 100; i < cff.size(); i += 97) cff[i] = static_cast<uint8_t>(cff[i] + seed);
    Bytes hmtx = Filled(120 + 4 * static_cast<size_t>(seed), 2);
    FontBuilder b;
    b.Table("CFF ", cff)
        .Table("OS/2", Filled(96, 3))
        .Table("cmap", Filled(58, 4 + seed))
        .Table("head", testdata::HeadTable(revision))
        .Table("hhea", Filled(36, 5))
        .Table("hmtx", hmtx)
        .Table("maxp", Filled(6, 6))
        .Table("name", testdata::StandardNameTable(fullName, macSerial, winSerial))
        .Table("post", Filled(32, 7));
    if (!order.empty()) b.DataOrder(order);
    if (padding) b.Garbage(padding);
    return b.Build();
}

bool Inputs(const std::string& dir) {
    bool ok = true;
    auto put = [&](const std::string& name, const Bytes& b) { ok = Write(dir + "/" + name, b) && ok; };
    const std::string plain = "Tanuki Sans W4";

    // Ordinary revisions: contents changed, serial strings of other lengths,
    // tables laid out in another order, padding that is not zero.
    put("plain.otf", Font(0x00010000, plain, "MAC-0001", "WIN-0001", 0));
    put("plain.rev.otf", Font(0x00010200, plain, "MAC-0001", "WIN-0001", 3));
    put("serials.otf", Font(0x00020000, "Tanuki Serif W2", "MAC-SERIAL-LONGER-THAN-MOST-0002", "W", 0));
    put("serials.rev.otf", Font(0x00020100, "Tanuki Serif W2", "M", "WIN-SERIAL-0002", 5));
    put("moved.otf", Font(0x00010000, "Tanuki Mono W6", "MAC-0003", "WIN-0003", 0, {8, 7, 6, 5, 4, 3, 2, 1, 0}, 0xEE));
    put("moved.rev.otf", Font(0x00010001, "Tanuki Mono W6", "MAC-0003", "WIN-0003", 2, {}, 0));
    put("noserial.otf", Font(0x00010000, "Tanuki Round W1", "", "", 0));
    put("noserial.rev.otf", Font(0x00030000, "Tanuki Round W1", "MAC-0004", "", 1));

    // No head table: a revision of 0 that no difference file may claim.
    const Bytes name = testdata::StandardNameTable(plain, "MAC-0005", "WIN-0005");
    put("nohead.otf", FontBuilder().Table("CFF ", Filled(80, 8)).Table("name", name).Build());
    put("nohead.rev.otf", FontBuilder().Table("CFF ", Filled(84, 9)).Table("name", name).Build());
    DiffRecord cff{"CFF ", 0, 0, 84, 0, false, {{0, 80, 0}}, {{80, {1, 2, 3, 4}}}};
    DiffRecord nameRec{"name", 1, 1, static_cast<uint32_t>(name.size()), 0, false, {}, {{0, name}}};
    cff.newOffset = 12 + 2 * 16;
    nameRec.newOffset = cff.newOffset + 84;
    const uint32_t length = (nameRec.newOffset + static_cast<uint32_t>(name.size()) + 3) / 4 * 4;
    put("nohead.revision0.pa",
        DiffBuilder().FontName(plain).FromRevision(0).NewFileLength(length).Record(cff).Record(nameRec).Build());

    // Name tables the model refuses or trims: strings claimed past the table,
    // and several directory entries on one table.
    put("claiming.otf", testdata::ClaimingNameFont(0x00010000, 40, 0xFFFF));
    put("claimingmany.otf", testdata::ClaimingNameFont(0x00010000, 3000, 900, 0, 3));

    // Difference files for plain.otf written field by field, each bending
    // one rule.
    const Bytes old = Read(dir + "/plain.otf");
    const uint32_t n = testdata::GetU16(old, 4);
    DiffBuilder base;
    base.FontName(plain).FromRevision(0x00010000);
    std::vector<DiffRecord> records;
    uint32_t at = 12 + 16 * n;
    for (uint32_t i = 0; i < n; ++i) {
        DiffRecord r;
        const size_t d = 12 + 16 * i;
        r.tag = std::string(old.begin() + static_cast<long>(d), old.begin() + static_cast<long>(d) + 4);
        r.newIndex = static_cast<uint8_t>(i);
        r.newSortedIndex = static_cast<uint8_t>(i);
        r.newLength = testdata::GetU32(old, d + 12);
        r.newOffset = at;
        at += (r.newLength + 3) / 4 * 4;
        records.push_back(r);
    }
    auto diff = [&](const std::string& caseName, std::vector<DiffRecord> rs, uint32_t fileLength, int count = -1) {
        DiffBuilder b = base;
        b.NewFileLength(fileLength);
        if (count >= 0) b.TableCount(static_cast<uint8_t>(count));
        for (const DiffRecord& r : rs) b.Record(r);
        put("plain." + caseName + ".pa", b.Build());
    };
    diff("unchanged", records, at);
    auto copyAll = [&](std::vector<DiffRecord> rs, size_t i, uint32_t src, uint32_t len) {
        rs[i].unchanged = false;
        rs[i].copies = {{src, len, 0}};
        return rs;
    };
    diff("copyoutside", copyAll(records, 0, 8, records[0].newLength), at);
    diff("copyhuge", copyAll(records, 0, 0xFFFFFFF0u, 0x20), at);
    std::vector<DiffRecord> lit = records;
    lit[5].unchanged = false;
    lit[5].literals = {{0, Filled(lit[5].newLength, 9)}, {4, {1, 2, 3}, 0x7FFFFFFF}};
    diff("literalcut", lit, at);
    std::vector<DiffRecord> counts = copyAll(records, 2, 0, 8);
    counts[2].copyCountOverride = 0x10000000;
    diff("copycount", counts, at);
    std::vector<DiffRecord> overlap = records;
    overlap[3].newOffset = overlap[2].newOffset;
    diff("overlap", overlap, at);
    std::vector<DiffRecord> slots = records;
    slots[1].newIndex = slots[4].newIndex;
    slots[7].tag = "zzzz";
    diff("slots", slots, at);
    diff("short", records, 40);
    diff("odd", records, at + 2);
    diff("count", records, at, 200);
    diff("norecords", {}, at, 0);
    return ok;
}

int Entry(const std::string& fontDir, const std::string& entryName, const std::string& outDir,
          const std::vector<std::string>& files) {
    std::string error;
    const fuzzentry::Entry* entry = fuzzentry::FindEntry(entryName);
    if (!entry || !fuzzentry::Setup(fontDir, &error)) {
        std::fprintf(stderr, "outputs_aid: entry %s cannot start: %s\n", entryName.c_str(), error.c_str());
        return 2;
    }
    // Where the entries' build leaves the revised font (fuzz/entries.cpp).
    const char kBuilt[] = "Z:\\Temp\\17000000001";
    for (size_t i = 0; i < files.size(); ++i) {
        const Bytes input = Read(files[i]);
        const fuzzentry::Outcome o = entry->run(input.data(), input.size());
        const std::string stem = outDir + "/" + std::to_string(i);
        if (!Write(stem + ".result", BytesOf("result " + std::to_string(o.result) + "\nfault " + o.fault + "\n"))) {
            return 3;
        }
        const std::string built = sim::HostPath(kBuilt);
        std::ifstream probe(built, std::ios::binary);
        if (probe && !Write(stem + ".font", Read(built))) return 3;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 2 && a[0] == "inputs") return Inputs(a[1]) ? 0 : 3;
    if (a.size() >= 4 && a[0] == "entry") return Entry(a[1], a[2], a[3], std::vector<std::string>(a.begin() + 4, a.end()));
    std::fprintf(stderr,
                 "usage: outputs_aid inputs OUT_DIR\n"
                 "       outputs_aid entry FONT_DIR ENTRY OUT_DIR FILE...\n");
    return 2;
}
