// Dialogs through the scripted chooser.
#include <gtest/gtest.h>

#include "toolkit/Dialogs.h"
#include "toolkit/FileType.h"
#include "toolkit/FolderItem.h"

namespace {

TEST(DialogsTest, ScriptedAnswersAndWhatWasShown) {
    auto scc = std::make_shared<tk::FileType>();
    scc->SetName("text/scc");
    scc->SetExtensions(".scc");
    scc->Operator_Convert();

    auto script = std::make_shared<tk::ScriptedChooser>();
    script->AnswerPath("/data/show.scc").AnswerDismiss().AnswerPath("/out/show.txt").AnswerCancel().AnswerCancel();
    tk::ScopedDialogChooser scoped(script);

    auto chosen = tk::GetOpenFolderItem("text/scc");
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->Name(), "show.scc");
    tk::MsgBox("This file does not have the .scc extension.");
    auto saved = tk::GetSaveFolderItem("TEXT", "show.txt");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->NativePath(), "/out/show.txt");
    EXPECT_EQ(tk::GetOpenFolderItem("no/such-type"), nullptr);  // cancelled
    EXPECT_EQ(tk::GetSaveFolderItem("TEXT", ".txt"), nullptr);
    EXPECT_EQ(script->PendingAnswers(), 0u);

    const auto& shown = script->Shown();
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].kind, tk::DialogKind::Open);
    EXPECT_EQ(shown[0].filter, "text/scc");
    EXPECT_EQ(shown[0].nameFilters, "SCC files (*.scc);;All files (*)");
    EXPECT_EQ(shown[1].kind, tk::DialogKind::Message);
    EXPECT_EQ(shown[1].message, "This file does not have the .scc extension.");
    EXPECT_EQ(shown[2].kind, tk::DialogKind::Save);
    EXPECT_EQ(shown[2].filter, "TEXT");
    EXPECT_EQ(shown[2].proposedName, "show.txt");
    EXPECT_EQ(shown[2].nameFilters, "Text files (*.txt);;All files (*)");
    EXPECT_EQ(shown[3].nameFilters, "All files (*)");
    EXPECT_EQ(shown[4].proposedName, ".txt");

    // Once the type is gone, its filter line goes with it.
    scc.reset();
    script->AnswerCancel();
    tk::GetOpenFolderItem("text/scc");
    EXPECT_EQ(script->Shown().back().nameFilters, "All files (*)");
}

TEST(DialogsTest, FilterLinesForSeveralTypes) {
    const auto a = tk::RuntimeRegisterFileType("image/pic", "", "", ".png; .jpg");
    const auto b = tk::RuntimeRegisterFileType("image/pic", "", "", "png;jpg");  // same lines: listed once
    const auto c = tk::RuntimeRegisterFileType("text/plain", "", "", ".txt");
    auto script = std::make_shared<tk::ScriptedChooser>();
    script->AnswerCancel();
    tk::ScopedDialogChooser scoped(script);
    tk::GetOpenFolderItem("image/pic; text/plain");
    EXPECT_EQ(script->Shown().back().nameFilters, "PIC files (*.png *.jpg);;PLAIN files (*.txt);;All files (*)");
    for (auto id : {a, b, c}) tk::RuntimeUnregisterFileType(id);
}

TEST(DialogsTest, UnexpectedDialogsFailLoudlyAndAreRecorded) {
    auto script = std::make_shared<tk::ScriptedChooser>();
    tk::ScopedDialogChooser scoped(script);
    EXPECT_THROW(tk::MsgBox("no answer for me"), tk::UnexpectedDialogException);
    EXPECT_THROW(tk::GetOpenFolderItem("text/scc"), tk::UnexpectedDialogException);
    script->AnswerDismiss();
    EXPECT_THROW(tk::GetSaveFolderItem("TEXT", "a.txt"), tk::UnexpectedDialogException);
    EXPECT_EQ(script->PendingAnswers(), 1u);  // the wrong-kind answer stays for the right dialog
    EXPECT_NO_THROW(tk::MsgBox("now expected"));
    script->AnswerCancel();
    EXPECT_THROW(tk::MsgBox("wrong order"), tk::RuntimeException);
    EXPECT_EQ(script->UnexpectedCount(), 4u);
    EXPECT_EQ(script->Shown().size(), 5u);
    EXPECT_EQ(script->Shown()[0].message, "no answer for me");

    script = std::make_shared<tk::ScriptedChooser>();
    script->SetAutoDismissMessages(true);
    script->AnswerCancel();
    tk::ScopedDialogChooser inner(script);
    EXPECT_NO_THROW(tk::MsgBox("dismissed by itself"));
    EXPECT_EQ(tk::GetOpenFolderItem("text/scc"), nullptr);  // the cancel was kept for the dialog
    EXPECT_EQ(script->UnexpectedCount(), 0u);
}

TEST(DialogsTest, ScopedChooserPutsThePreviousOneBack) {
    auto outer = std::make_shared<tk::ScriptedChooser>();
    tk::SetDialogChooser(outer);
    {
        auto inner = std::make_shared<tk::ScriptedChooser>();
        tk::ScopedDialogChooser scoped(inner);
        EXPECT_EQ(tk::CurrentDialogChooser(), inner);
    }
    EXPECT_EQ(tk::CurrentDialogChooser(), outer);
    tk::SetDialogChooser(nullptr);
    auto real = tk::CurrentDialogChooser();
    ASSERT_NE(real, nullptr);
    EXPECT_EQ(std::dynamic_pointer_cast<tk::ScriptedChooser>(real), nullptr);
}

}  // namespace
