// The reading side on fonts made from a real Japanese CFF font.
#include <cstdlib>
#include <cstring>

#include "engine/manager.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;
using testdata::Entry;

namespace {

struct Recorder {
    std::vector<int> overall, steps;
    static int Callback(int overall, int step, const char*, const char*, void* context) {
        auto* self = static_cast<Recorder*>(context);
        self->overall.push_back(overall);
        self->steps.push_back(step);
        return 0;
    }
};

class RealFontTest : public testdata::SimMachineTest {};

}  // namespace

TEST_F(RealFontTest, AFullSizeJapaneseFontIsIdentifiedAndLoaded) {
    REQUIRE_FONT(font, "Sorame-Gothic-Full-W3.otf");
    ASSERT_GT(font.size(), 10u * 1000 * 1000);
    const char* path = "C:\\Windows\\Fonts\\Sorame-Gothic-Full-W3.otf";
    Put(path, font);

    COpenTypeManager identify;
    int revision = 0;
    const DiffFileRecord entry = Entry("Sorame Gothic Full W3", 0x00010000);
    EXPECT_EQ(identify.IsTargetFont(path, &entry, &revision), 1);
    EXPECT_EQ(revision, 0x00010000);
    const DiffFileRecord later = Entry("Sorame Gothic Full W3", 0x0001028F);
    EXPECT_EQ(identify.IsTargetFont(path, &later, &revision), 0);

    COpenTypeManager m;
    Recorder rec;
    ASSERT_EQ(m.LoadFont(path, Recorder::Callback, &rec, 3, 2), 0);
    EXPECT_EQ(rec.steps, (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(rec.overall, (std::vector<int>{69, 72, 76}));
    EXPECT_EQ(m.TagCount(), 15);
    ASSERT_NE(m.FindTag("CFF "), nullptr);
    for (INT_PTR i = 1; i < m.TagCount(); ++i) {
        EXPECT_LT(m.SortedTag(i - 1)->m_offset, m.SortedTag(i)->m_offset);
    }

    // Its serial strings come out of the name table as they are stored.
    const CTagObject* name = m.FindTag("name");
    ASSERT_NE(name, nullptr);
    char mac[kSerialBufferSize] = {}, win[kSerialBufferSize] = {};
    EXPECT_EQ(m.GetSerialStrings(m.Image() + 12 + 16 * name->m_fileIndex, mac, win), 1);
    EXPECT_GT(std::strlen(mac), 10u);
    EXPECT_EQ(win[0], 0);  // UTF-16BE of ASCII
    EXPECT_NE(win[1], 0);
}

TEST_F(RealFontTest, EverySmallTestFontIsIdentifiedByItsOwnNameOnly) {
    struct Font {
        const char* file;
        const char* fullName;
        uint32_t revision;
    };
    const Font fonts[] = {
        {"Sorame-Gothic-Pro-W3.otf", "Sorame Gothic Pro W3", 0x00010000},
        {"Sorame-Mincho-Std-W5.otf", "Sorame Mincho Std W5", 0x00010000},
        {"Sorame-Maru-Std-W8.otf", "Sorame Maru Std W8", 0x00020000},
    };
    for (const Font& f : fonts) {
        REQUIRE_FONT(bytes, f.file);
        std::string path = std::string("D:\\Fonts\\") + f.file;
        if (!Exists("D:\\")) MapNewDrive('D');
        Put(path, bytes);
        for (const Font& other : fonts) {
            COpenTypeManager m;
            int revision = 0;
            const DiffFileRecord entry = Entry(other.fullName, other.revision);
            EXPECT_EQ(m.IsTargetFont(path.c_str(), &entry, &revision), &other == &f ? 1 : 0) << f.file << " vs " << other.fullName;
        }
    }
}
