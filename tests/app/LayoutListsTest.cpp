// The packed design-time property lists of the main window and its controls. That each
// list decodes by its control's class is shown by every window the other tests build.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/LayoutLists.h"

namespace {

using quillet::layout::Controls;

TEST(LayoutLists, EncodedSizesAndEntryCounts) {
    EXPECT_EQ(quillet::layout::WindowList().size(), 274u);
    EXPECT_EQ(quillet::layout::WindowEntries().size(), 21u);

    const std::vector<std::pair<std::string, std::pair<size_t, size_t>>> expected = {
        {"BevelButton1", {461, 36}}, {"TimecodeBox", {335, 27}},  {"LineBox", {332, 27}},
        {"ParagraphBox", {334, 27}}, {"StaticText1", {364, 28}},  {"ProgressBar1", {215, 18}},
        {"ProgressText", {370, 28}}, {"RadioButton1", {310, 25}}, {"RadioButton2", {308, 25}},
        {"BevelButton3", {447, 36}}, {"BevelButton2", {447, 36}}, {"Canvas1", {266, 22}},
    };
    ASSERT_EQ(Controls().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(Controls()[i].name, expected[i].first);  // creation order
        EXPECT_EQ(Controls()[i].encoded.size(), expected[i].second.first);
        EXPECT_EQ(Controls()[i].entries.size(), expected[i].second.second);
    }
}

TEST(LayoutLists, ExactBytes) {
    const std::string& bevel = quillet::layout::FindControl("BevelButton1")->encoded;
    const std::string firstThree = std::string("Name \x00\x00\x00\x0C", 9) + "BevelButton1" +
                                   std::string("Index \x80\x00\x00\x00", 10) +
                                   std::string("Left \x00\x00\x01\x49", 9);
    EXPECT_EQ(bevel.substr(0, firstThree.size()), firstThree);

    // The "?" caption and a Boolean True.
    const std::string& help = quillet::layout::FindControl("BevelButton2")->encoded;
    EXPECT_NE(help.find(std::string("Caption \x00\x00\x00\x01?", 13)), std::string::npos);
    EXPECT_NE(help.find(std::string("TabStop \x01", 9)), std::string::npos);

    // The window: its title, its colour and the last entry ending the list.
    const std::string& window = quillet::layout::WindowList();
    EXPECT_EQ(window.substr(0, 14), std::string("Placement \x00\x00\x00\x00", 14));
    EXPECT_NE(window.find(std::string("Title \x00\x00\x00\x07Quillet", 17)), std::string::npos);
    EXPECT_NE(window.find("BackColor \xFF\xFF\xFF"), std::string::npos);
    EXPECT_EQ(window.substr(window.size() - 14), std::string("MacProcID \x00\x00\x00\x00", 14));
}

}  // namespace
