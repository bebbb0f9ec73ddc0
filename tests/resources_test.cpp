// The compiled resources the simulated machine loads are the program's own.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/framework/cstring.h"
#include "platform/sim/machine.h"
#include "res/resource.h"

TEST(ResourcesTest, EveryStringOfTheTableLoadsInCodePage932) {
    for (UINT id = IDS_ABOUTBOX; id <= IDS_FONT_IN_USE; ++id) {
        CString s;
        EXPECT_TRUE(s.LoadString(id)) << id;
        EXPECT_GT(s.GetLength(), 0) << id;
    }
    CString s;
    ASSERT_TRUE(s.LoadString(IDS_CONFIRM_ABORT));
    EXPECT_STREQ(s, "フォントの改訂を中止します。\r\n\r\n中止する場合は、”はい”ボタン、\r\n"
                    "中止しない場合は、”いいえ”ボタンを押してください。");
    ASSERT_TRUE(s.LoadString(IDS_ABOUTBOX));
    EXPECT_STREQ(s, "Korvane Font Updater2017 のﾊﾞｰｼﾞｮﾝ情報(&A)...");
    ASSERT_TRUE(s.LoadString(IDS_DIFF_READ_FAILED));
    CString formatted;
    formatted.Format(s, "Sorame-Gothic-Pro-W3.pa");
    EXPECT_STREQ(formatted, "改訂ファイル(Sorame-Gothic-Pro-W3.pa)の読み込みに失敗しました。");
}

TEST(ResourcesTest, AMissingStringIsEmpty) {
    CString s("left over");
    EXPECT_FALSE(s.LoadString(126));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_FALSE(s.LoadString(9999));
}

TEST(ResourcesTest, EveryDialogTemplateAndTheIconArePresent) {
    const int dialogs[] = {IDD_ABOUTBOX, IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_PROGRESS_DIALOG,
                           IDD_END_DIALOG, IDD_MESSAGE_DIALOG, IDD_OK_DIALOG, IDD_NORMAL_END_DIALOG,
                           IDD_WAIT_DIALOG};
    for (int id : dialogs) {
        const unsigned char* data = nullptr;
        size_t size = 0;
        EXPECT_TRUE(sim::FindResource(5, id, &data, &size)) << id;
        // DIALOGEX templates begin with version 1 and signature 0xFFFF.
        ASSERT_GE(size, 4u);
        EXPECT_EQ(data[0] | data[1] << 8, 1);
        EXPECT_EQ(data[2] | data[3] << 8, 0xFFFF);
    }
    const unsigned char* data = nullptr;
    size_t size = 0;
    EXPECT_TRUE(sim::FindResource(14, IDR_MAINFRAME, &data, &size));  // icon group
}

TEST(ResourcesTest, TextsWithABackslashTrailByteSurviveTheResourceCompiler) {
    // "ソ" is 0x83 0x5C in code page 932: a script in that code page would
    // lose it to the compiler's escape handling.  The notice of template 129
    // names the "ソラメ" families.
    const unsigned char* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(sim::FindResource(5, IDD_START_DIALOG, &data, &size));
    const unsigned char sorame[] = {0xBD, 0x30, 0xE9, 0x30, 0xE1, 0x30};  // UTF-16LE
    EXPECT_NE(std::search(data, data + size, sorame, sorame + sizeof sorame), data + size);
}
