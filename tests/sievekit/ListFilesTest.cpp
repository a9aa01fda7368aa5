// List files and whole-file texts: what a file on disk loads into, and what
// an edit stores.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "SievekitTestFiles.h"
#include "sievekit/CMyFile.h"
#include "sievekit/CMyList.h"
#include "sievekit/IDomain.h"
#include "support/TempFolder.h"

using testsupport::TempFolder;

TEST(ListFileLoading, KeepsEveryNonEmptyLineAsWritten) {
    TempFolder dir(true);
    // BOM, CR LF and LF mixed, a blank line, a line of a lone CR, a comment,
    // a duplicate, surrounding blanks, Chinese text and no final newline.
    dir.Write("Data/tips.txt",
              "\xEF\xBB\xBF" "alpha\r\n\r\n# note\r\nbeta\n\r\nalpha\n  spaced  \n\xE4\xB8\xAD\xE6\x96\x87\r\nlast");
    CMyList list("Data/tips.txt", 0, 99, 2, 0);

    std::set<std::wstring> expected{L"alpha", L"# note", L"beta", L"  spaced  ", L"中文", L"last"};
    EXPECT_EQ(list.GetList(), expected);
    EXPECT_EQ(list.size(), 6u);
    EXPECT_TRUE(list.Exists(L"中文"));
    EXPECT_TRUE(list.Exists(sievetest::kGbkZhongWen.c_str()));  // narrow lookups are code page 936
    EXPECT_FALSE(list.Exists("ALPHA"));                         // entries are exact
    EXPECT_FALSE(list.Exists(L"alpha\r"));
}

TEST(ListFileLoading, MissingFileGivesNoEntriesAndReloadForgetsDeletedFile) {
    TempFolder dir(true);
    CMyList missing("Data/none.txt");
    EXPECT_EQ(missing.size(), 0u);
    EXPECT_TRUE(missing.GetList().empty());

    dir.Write("Data/list.txt", "one\ntwo\n");
    CMyList list("Data/list.txt");
    ASSERT_EQ(list.size(), 2u);
    std::filesystem::remove(dir / "Data/list.txt");
    EXPECT_FALSE(list.ReloadData());
    EXPECT_EQ(list.size(), 0u);
}

// A reload of an unchanged file keeps the very snapshot (readers such as the
// ad-block engine tell by it that nothing changed); any other byte content,
// even of the same size, is read anew, and so is the file after an edit.
TEST(ListFileLoading, ReloadKeepsTheEntriesOfAnUnchangedFileOnly) {
    TempFolder dir(true);
    dir.Write("Data/list.txt", "one\ntwo\n");
    CMyList list("Data/list.txt");
    auto first = list.Snapshot();
    ASSERT_TRUE(list.ReloadData());
    EXPECT_EQ(list.Snapshot(), first);

    dir.Write("Data/list.txt", "one\ntwx\n");
    ASSERT_TRUE(list.ReloadData());
    EXPECT_EQ(list.GetList(), (std::set<std::wstring>{L"one", L"twx"}));
    dir.Write("Data/list.txt", "one\r\ntwx\r\n");  // other bytes, the same lines
    ASSERT_TRUE(list.ReloadData());
    EXPECT_EQ(list.GetList(), (std::set<std::wstring>{L"one", L"twx"}));

    dir.Write("Data/user_black.txt", "saved.example\n");
    CUserBlackDomain editor;
    editor.Readonly(0);
    ASSERT_TRUE(editor.ReloadData());
    ASSERT_TRUE(editor.add(L"unsaved.example"));
    ASSERT_TRUE(editor.ReloadData());  // the file never held the edit
    EXPECT_EQ(editor.GetList(), std::set<std::wstring>{L"saved.example"});
}

TEST(ListFileLoading, BackslashPathsResolveInTheDataFolder) {
    TempFolder dir(true);
    dir.Write("Data/jiese_tips.txt", "tip one\n");
    CMyList list("Data\\jiese_tips.txt");
    EXPECT_EQ(list.GetList(), std::set<std::wstring>{L"tip one"});
    CMyFile file("Data\\jiese_tips.txt", 0, 0);
    EXPECT_EQ(file.getContent(), L"tip one\n");
}

TEST(ListFileSaving, RefusedWhileReadOnlyAndFileUntouched) {
    TempFolder dir(true);
    const std::string original = "# mine\r\nbad.example\r\n";
    dir.Write("Data/user_black.txt", original);
    CUserBlackDomain list;
    EXPECT_FALSE(list.add(L"other.example"));  // loaded lists start read-only
    EXPECT_FALSE(list.Save());
    EXPECT_EQ(dir.Read("Data/user_black.txt"), original);
}

TEST(ListFileSaving, EditSequenceAddsToTheCurrentStoredContent) {
    TempFolder dir(true);
    dir.Write("Data/user_black.txt", "# mine\nbad.example\n");
    CUserBlackDomain editor;  // loaded before another program changes the file
    dir.Write("Data/user_black.txt", "\xEF\xBB\xBF# mine\r\nbad.example\r\nlater.example\r\n");

    editor.Readonly(0);
    ASSERT_TRUE(editor.ReloadData());
    EXPECT_TRUE(editor.add(L"Evil.Example"));
    EXPECT_FALSE(editor.add(L"evil.example"));  // already there once normalised
    EXPECT_FALSE(editor.add(L""));
    ASSERT_TRUE(editor.Save());

    CUserBlackDomain reader;
    EXPECT_EQ(reader.GetList(),
              (std::set<std::wstring>{L"# mine", L"bad.example", L"later.example", L"evil.example"}));
    EXPECT_TRUE(reader.MatchesHost("www.evil.example"));
    EXPECT_TRUE(reader.MatchesHost("later.example"));
    // The replacement went through a temporary file that is gone now.
    EXPECT_EQ(sievetest::FolderEntries(dir / "Data"), std::vector<std::string>{"user_black.txt"});
}

TEST(ListFileSaving, ChineseEntriesSurviveTheRoundTrip) {
    TempFolder dir(true);
    dir.Write("Data/manual_image.txt", "");
    CManualFilterImage list;
    list.Readonly(0);
    ASSERT_TRUE(list.add(L"/图片/横幅"));
    ASSERT_TRUE(list.Save());
    EXPECT_EQ(dir.Read("Data/manual_image.txt"), "/\xE5\x9B\xBE\xE7\x89\x87/\xE6\xA8\xAA\xE5\xB9\x85\n");
    CManualFilterImage again;
    EXPECT_EQ(again.GetList(), std::set<std::wstring>{L"/图片/横幅"});
}

// A line's CR before its LF and a byte-order mark at the start of the file
// are not content; an entry that itself ends in CR or starts with U+FEFF
// (from a file with mixed line ends, or a mark repeated) must still read
// back unchanged after a store, however often the list is stored.
TEST(ListFileSaving, EntriesEndingInCrOrStartingWithAByteOrderMarkSurviveRepeatedStores) {
    TempFolder dir(true);
    // The marked entry alone, so it is the first line stored.
    dir.Write("Data/user_black.txt", "\xEF\xBB\xBF\xEF\xBB\xBFmarked.example\n");
    dir.Write("Data/user_noimage.txt", "ends.example\r\r\nplain.example\r\n");
    const std::pair<const char*, std::set<std::wstring>> cases[] = {
        {"Data/user_black.txt", {L"\uFEFFmarked.example"}},
        {"Data/user_noimage.txt", {L"ends.example\r", L"plain.example"}},
    };
    for (const auto& [file, loaded] : cases) {
        CMyList list(file);
        ASSERT_EQ(list.GetList(), loaded) << file;
        list.Readonly(0);
        for (int store = 0; store < 3; ++store) {
            ASSERT_TRUE(list.Save());
            ASSERT_TRUE(list.ReloadData());
            EXPECT_EQ(list.GetList(), loaded) << file << " after store " << store + 1;
        }
    }
    // Ordinary entries are stored as before: one a line, LF only, no mark.
    dir.Write("Data/user_white.txt", "b.example\r\na.example\n");
    CMyList plain("Data/user_white.txt");
    plain.Readonly(0);
    ASSERT_TRUE(plain.Save());
    EXPECT_EQ(dir.Read("Data/user_white.txt"), "a.example\nb.example\n");
}

TEST(ListFileSaving, FailedSaveKeepsTheOldFileAndLeavesNoTemporaryFile) {
    TempFolder dir(true);
    dir.Write("Data/user_white.txt/keep", "a folder stands where the list should be");
    CUserWhiteDomain list;
    list.Readonly(0);
    ASSERT_TRUE(list.add(L"good.example"));
    EXPECT_FALSE(list.Save());
    EXPECT_EQ(sievetest::FolderEntries(dir / "Data"), std::vector<std::string>{"user_white.txt"});
    EXPECT_EQ(dir.Read("Data/user_white.txt/keep"), "a folder stands where the list should be");

    TempFolder noDataFolder(true);
    CUserWhiteDomain orphan;
    orphan.Readonly(0);
    ASSERT_TRUE(orphan.add(L"good.example"));
    EXPECT_FALSE(orphan.Save());
}

TEST(WholeFile, ContentAsWideTextWithoutTheByteOrderMark) {
    TempFolder dir(true);
    dir.Write("Data/Control.html", "\xEF\xBB\xBF<b>\xE4\xB8\xAD</b>\r\n<i>x</i>");
    CMyFile file("Data/Control.html", 0, 0);
    EXPECT_EQ(file.getContent(), L"<b>中</b>\r\n<i>x</i>");
    dir.Write("Data/Control.html", "changed");
    EXPECT_EQ(file.getContent(), L"changed");
    EXPECT_EQ(CMyFile("Data/none.html", 0, 0).getContent(), L"");
}
