// The console dialog: what the user sees, what the keyboard does, and
// events posted from another thread.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <thread>

#include "platform/ConsoleDialog.h"
#include "support/TempFolder.h"

using platform::ConsoleDialog;
using platform::DialogEventKind;

namespace {

class ConsoleDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        input_ = platform::ConsoleInput::MakeFeed();
        ASSERT_NE(input_, nullptr);
        out_ = std::fopen((folder_ / "out.txt").c_str(), "w+b");
        err_ = std::fopen((folder_ / "err.txt").c_str(), "w+b");
        ASSERT_TRUE(out_ && err_);
        dialog_ = std::make_unique<ConsoleDialog>(input_, out_, err_);
    }
    void TearDown() override {
        dialog_.reset();
        if (out_) std::fclose(out_);
        if (err_) std::fclose(err_);
    }
    void Type(const std::string& s) { ASSERT_TRUE(input_->Type(s)); }
    void CloseInput() { input_->EndInput(); }
    static std::string Contents(std::FILE* f) {
        std::fflush(f);
        std::rewind(f);
        std::string s;
        char b[1024];
        size_t n;
        while ((n = std::fread(b, 1, sizeof b, f)) > 0) s.append(b, n);
        return s;
    }

    testsupport::TempFolder folder_;
    std::shared_ptr<platform::ConsoleInput> input_;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
    std::unique_ptr<ConsoleDialog> dialog_;
};

TEST(ConsoleDialogTextTest, LinksShowTheirAddressAndLineEndsAreUnified) {
    EXPECT_EQ(ConsoleDialog::RenderText("a\r\nb<a href=\"http://h/p\">http://h/p</a>c"), "a\nbhttp://h/pc");
    EXPECT_EQ(ConsoleDialog::RenderText("<a href=\"http://h/p\">notes</a>"), "notes (http://h/p)");
    // Broken markup stays as written.
    EXPECT_EQ(ConsoleDialog::RenderText("<a href=\"x\">no end"), "<a href=\"x\">no end");
    EXPECT_EQ(ConsoleDialog::RenderText("<a >x</a>"), "<a >x</a>");
}

TEST_F(ConsoleDialogTest, ShowPrintsTitleAndVisibleControlsThenLaterChanges) {
    dialog_->SetTitle("T");
    dialog_->AddText(1, "hidden text", false);
    dialog_->AddText(2, "before show");
    dialog_->AddButton(3, "Go");
    dialog_->SetText(2, "line1\r\nline2");  // not printed: not shown yet
    EXPECT_EQ(Contents(out_), "");
    dialog_->Show();
    EXPECT_EQ(Contents(out_), "== T ==\nline1\nline2\n[ Go ]  (Enter)\n");
    dialog_->EnableButton(3, false);
    dialog_->SetText(3, "Busy");
    dialog_->ShowControl(1, true);
    EXPECT_EQ(Contents(out_), "== T ==\nline1\nline2\n[ Go ]  (Enter)\n[ Busy ]\nhidden text\n");
    EXPECT_TRUE(dialog_->isShown());
}

TEST_F(ConsoleDialogTest, EnterPressesTheEnabledButtonAndEndOfInputCloses) {
    dialog_->AddButton(1, "OK");
    dialog_->Show();
    Type("\n");
    auto event = dialog_->WaitEvent();
    EXPECT_EQ(event.kind, DialogEventKind::Button);
    EXPECT_EQ(event.code, 1);
    // Disabled: Enter does nothing, so end of input is the next event.
    dialog_->EnableButton(1, false);
    Type("typed while disabled\n");
    CloseInput();
    EXPECT_EQ(dialog_->WaitEvent().kind, DialogEventKind::Close);
}

TEST_F(ConsoleDialogTest, InputWaitsUnreadWhileOnlyPostedCodesAreWanted) {
    dialog_->AddButton(1, "OK");
    dialog_->Show();
    Type("\n");
    CloseInput();
    dialog_->Post(42);
    auto event = dialog_->WaitEvent(false);
    EXPECT_EQ(event.kind, DialogEventKind::Posted);
    EXPECT_EQ(event.code, 42);
    EXPECT_EQ(dialog_->WaitEvent(true).kind, DialogEventKind::Button);
    EXPECT_EQ(dialog_->WaitEvent(true).kind, DialogEventKind::Close);
}

TEST_F(ConsoleDialogTest, ConcurrencyPostedCodesWakeTheLoopInOrder) {
    std::thread poster([this] {
        for (int i = 1; i <= 50; ++i) dialog_->Post(i);
    });
    for (int i = 1; i <= 50; ++i) {
        auto event = dialog_->WaitEvent(false);
        ASSERT_EQ(event.kind, DialogEventKind::Posted);
        ASSERT_EQ(event.code, i);
    }
    poster.join();
}

TEST_F(ConsoleDialogTest, ProgressBarGoesToTheErrorStreamOnlyWhenVisible) {
    dialog_->AddProgress(5, false);
    dialog_->Show();
    dialog_->SetProgressRange(5, 1000);
    dialog_->SetProgressPos(5, 100);
    EXPECT_EQ(Contents(err_), "");  // hidden
    dialog_->ShowControl(5, true);
    dialog_->SetProgressPos(5, 100);  // unchanged: no redraw
    dialog_->SetProgressPos(5, 1000);
    dialog_->ShowControl(5, false);
    const std::string err = Contents(err_);
    EXPECT_EQ(err, "\r[###---------------------------]  10%  100/1000"
                   "\r[##############################] 100%  1000/1000\n");
    EXPECT_EQ(Contents(out_), "");
}

TEST_F(ConsoleDialogTest, FinishedLineAndEndedDialog) {
    dialog_->AddText(1, "t");
    dialog_->AddProgress(2, true);
    dialog_->Show();
    dialog_->SetProgressRange(2, 4);
    dialog_->SetProgressPos(2, 1);
    dialog_->FinishProgressLine();
    dialog_->FinishProgressLine();  // only one line end
    const std::string zero = "\r[------------------------------]   0%  0/4";
    EXPECT_EQ(Contents(err_), zero + "\r[#######-----------------------]  25%  1/4\n");
    dialog_->SetProgressPos(2, 2);
    dialog_->End();
    dialog_->SetText(1, "after the end");
    dialog_->SetProgressPos(2, 4);
    EXPECT_EQ(Contents(out_), "t\n");
    EXPECT_EQ(Contents(err_), zero + "\r[#######-----------------------]  25%  1/4\n"
                                     "\r[###############---------------]  50%  2/4\n");
}

TEST_F(ConsoleDialogTest, ConcurrencyProgressFromAnotherThreadWhileTextsChange) {
    dialog_->AddText(1, "t");
    dialog_->AddProgress(2, true);
    dialog_->Show();
    std::thread downloader([this] {
        for (uint64_t i = 0; i <= 2000; ++i) {
            dialog_->SetProgressRange(2, 2000);
            dialog_->SetProgressPos(2, i);
        }
        dialog_->Post(1);
    });
    for (int i = 0; i < 20; ++i) dialog_->SetText(1, "text " + std::to_string(i));
    EXPECT_EQ(dialog_->WaitEvent(false).code, 1);
    downloader.join();
    EXPECT_NE(Contents(err_).find("100%  2000/2000"), std::string::npos);
}

}  // namespace
