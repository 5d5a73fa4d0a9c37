// What the dialogs are asked and what they give back: the chosen file, or nil when the
// user cancels, and the filter lines the user sees.
#include <gtest/gtest.h>

#include "toolkit/Dialogs.h"
#include "toolkit/FileType.h"
#include "toolkit/FolderItem.h"

namespace {

TEST(DialogsTest, ChosenFilesCancelsAndFilterLines) {
    auto scc = std::make_shared<tk::FileType>();
    scc->SetName("text/scc");
    scc->SetExtensions(".scc");
    scc->Operator_Convert();

    auto script = std::make_shared<tk::ScriptedChooser>();
    script->AnswerPath("/data/show.scc").AnswerPath("/out/show.txt").AnswerCancel().AnswerCancel();
    tk::ScopedDialogChooser scoped(script);

    auto chosen = tk::GetOpenFolderItem("text/scc");
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->Name(), "show.scc");
    auto saved = tk::GetSaveFolderItem("TEXT", "show.txt");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->NativePath(), "/out/show.txt");
    EXPECT_EQ(tk::GetOpenFolderItem("no/such-type"), nullptr);  // cancelled
    EXPECT_EQ(tk::GetSaveFolderItem("TEXT", ".txt"), nullptr);

    const auto& shown = script->Shown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].nameFilters, "SCC files (*.scc);;All files (*)");
    EXPECT_EQ(shown[1].kind, tk::DialogKind::Save);
    EXPECT_EQ(shown[1].proposedName, "show.txt");
    EXPECT_EQ(shown[1].nameFilters, "Text files (*.txt);;All files (*)");
    EXPECT_EQ(shown[2].nameFilters, "All files (*)");

    // Once the type is gone, its filter line goes with it.
    scc.reset();
    script->AnswerCancel();
    tk::GetOpenFolderItem("text/scc");
    EXPECT_EQ(script->Shown().back().nameFilters, "All files (*)");
}

}  // namespace
