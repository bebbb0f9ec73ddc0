// The fixture of the revision tests: a small target font on D:, its difference
// file in the host folder, and one revision of it at a time.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "discovery/foldercheck.h"
#include "driver/pending.h"
#include "driver/revise.h"
#include "engine/manager.h"
#include "tests/support/manifest.h"
#include "tests/support/revision.h"

#if __has_include("tools/paproducer/paproducer.h")
#include "tools/paproducer/paproducer.h"
#define HAVE_PAPRODUCER 1
#endif

using testdata::Bytes;
using testdata::FilesIn;
using testdata::BytesOf;
using testdata::FontBuilder;
using testdata::GetU16;
using testdata::GetU32;

namespace {

const uint32_t kRev1 = 0x00010000;
const char kFont[] = "D:\\Fonts\\Sorame-Gothic-Pro-W3.otf";
const char kTemp[] = "C:\\Windows\\Temp\\";
const char kStaging[] = "C:\\Windows\\Temp\\upd-pending";
const char kRunOnce[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kHost[] = "C:\\Program Files\\Sorame\\Updater\\host\\";
const int64_t kNow = 1700000000;

Bytes Post(uint8_t fill) { return Bytes(32, fill); }

// The small target font with its post table chosen by the test.
Bytes GothicFont(const Bytes& post, bool withName = true, bool withHead = true) {
    Bytes cff = BytesOf("CFF-DATA-FOR-TESTS-");
    for (int i = 0; i < 200; ++i) cff.push_back(static_cast<uint8_t>(i * 7));
    FontBuilder b;
    b.Table("CFF ", cff).Table("OS/2", Bytes(96, 0x22)).Table("cmap", Bytes(40, 0x33));
    if (withHead) b.Table("head", testdata::HeadTable(kRev1));
    b.Table("hhea", Bytes(36, 0x44)).Table("hmtx", Bytes(64, 0x55)).Table("maxp", Bytes(6, 0x66));
    if (withName) b.Table("name", testdata::StandardNameTable("Sorame Gothic Pro W3", "MAC-SERIAL-0001", "WIN-SERIAL-0001"));
    b.Table("post", post);
    return b.Build();
}

// A difference file that keeps every table of font in its slot and place,
// except the tables in `replaced`, whose bytes it carries whole.
Bytes DiffFor(const Bytes& font, const std::map<std::string, Bytes>& replaced = {}, const std::string& extraTag = "") {
    std::vector<testdata::DiffRecord> records = testdata::KeepEverything(font);
    for (testdata::DiffRecord& rec : records) {
        auto it = replaced.find(rec.tag);
        if (it == replaced.end()) continue;
        rec.unchanged = false;
        rec.literals.push_back(testdata::LiteralBlock{0, it->second});
    }
    if (!extraTag.empty()) records.back().tag = extraTag;
    testdata::DiffBuilder d;
    d.FontName("Sorame Gothic Pro W3").FromRevision(kRev1).NewFileLength(static_cast<uint32_t>(font.size()));
    for (const testdata::DiffRecord& rec : records) d.Record(rec);
    return d.Build();
}

struct Progress {
    std::vector<int> steps;
    std::vector<int> overall;
    std::string lastLine1, lastLine2;
    int stopAt = -1;
    static int Callback(int overall, int step, const char* line1, const char* line2, void* context) {
        auto* self = static_cast<Progress*>(context);
        self->steps.push_back(step);
        self->overall.push_back(overall);
        self->lastLine1 = line1;
        self->lastLine2 = line2;
        return step == self->stopAt ? 1 : 0;
    }
};

class ReviseTest : public testdata::SimMachineTest {
protected:
    void SetUp() override {
        testdata::SimMachineTest::SetUp();
        MapNewDrive('D');
        MakeFolder(kTemp);
        sim::SetTime(kNow);
        m_installed = GothicFont(Post(0x77));
        Put(kFont, m_installed);
        PutDiff(DiffFor(m_installed, {{"post", Post(0x99)}}));
    }
    void TearDown() override {
        ReleaseFolderCheckCtrl();
        testdata::SimMachineTest::TearDown();
    }

    void PutDiff(const Bytes& diff) { Put(std::string(kHost) + "Sorame-Gothic-Pro-W3.pa", diff); }

    int Revise(Progress* progress = nullptr) {
        ReleaseFolderCheckCtrl();  // the host folder as the test left it
        GetFolderCheckCtrl();
        COpenTypeManager m;
        return m.ReviseFont(kFont, static_cast<int>(kRev1), progress ? Progress::Callback : nullptr, progress, 1, 0);
    }


    // Nothing of the revision is left over: no temporary file, no new file
    // beside the font.
    void ExpectNoLeftovers(const std::vector<std::string>& othersInTemp = {}) {
        EXPECT_EQ(FilesIn("D:\\Fonts"), (std::vector<std::string>{"Sorame-Gothic-Pro-W3.otf"}));
        EXPECT_EQ(FilesIn(kTemp).size(), othersInTemp.size());
    }

    void ExpectInstalledIntact() { EXPECT_TRUE(Get(kFont) == m_installed) << "the installed font was changed"; }

    Bytes m_installed;
};

}  // namespace
