// File types and their registration.
#include <gtest/gtest.h>

#include "toolkit/FileType.h"

namespace {

using Patterns = std::vector<std::string>;

TEST(FileTypeTest, RegistersOnceOnConversionAndDeregistersWhenChangedOrGone) {
    auto type = std::make_shared<tk::FileType>();
    type->SetName("test/filetype-a");
    type->SetExtensions(".scc");
    type->SetMacType("TXT");
    type->SetMacCreator("R*ch");
    EXPECT_FALSE(type->IsRegistered());
    EXPECT_TRUE(tk::RegisteredFileTypesNamed("test/filetype-a").empty());

    EXPECT_EQ(type->Operator_Convert(), "test/filetype-a");
    EXPECT_EQ(type->Operator_Convert(), "test/filetype-a");
    auto found = tk::RegisteredFileTypesNamed("test/filetype-a");
    ASSERT_EQ(found.size(), 1u);  // converting again does not register twice
    EXPECT_EQ(found[0].extensions, ".scc");
    EXPECT_EQ(found[0].macType, "TXT");  // three characters, passed as they are
    EXPECT_EQ(found[0].macCreator, "R*ch");

    type->SetExtensions(".scc;.txt");  // a change takes the stale registration away
    EXPECT_TRUE(tk::RegisteredFileTypesNamed("test/filetype-a").empty());
    type->Operator_Convert();
    EXPECT_EQ(tk::RegisteredFileTypesNamed("test/filetype-a").at(0).extensions, ".scc;.txt");
    type->SetName("test/filetype-b");
    type->Operator_Convert();

    auto second = type;  // only the last reference deregisters
    type.reset();
    EXPECT_EQ(tk::RegisteredFileTypesNamed("test/filetype-b").size(), 1u);
    second.reset();
    EXPECT_TRUE(tk::RegisteredFileTypesNamed("test/filetype-b").empty());
}

TEST(FileTypeTest, DirectRegistrationsAndExtensionPatterns) {
    const auto before = tk::RegisteredFileTypes().size();
    const auto id1 = tk::RuntimeRegisterFileType("test/direct", "crea", "type", ".a");
    const auto id2 = tk::RuntimeRegisterFileType("test/direct", "crea", "type", ".b");
    EXPECT_NE(id1, id2);
    EXPECT_EQ(tk::RegisteredFileTypes().size(), before + 2);
    EXPECT_EQ(tk::RegisteredFileTypesNamed("test/direct").size(), 2u);
    EXPECT_TRUE(tk::RegisteredFileTypesNamed("TEST/DIRECT").empty());
    tk::RuntimeUnregisterFileType(id1);
    tk::RuntimeUnregisterFileType(id1);  // unknown now: ignored
    EXPECT_EQ(tk::RegisteredFileTypesNamed("test/direct").size(), 1u);
    tk::RuntimeUnregisterFileType(id2);
    EXPECT_EQ(tk::RegisteredFileTypes().size(), before);

    EXPECT_EQ(tk::ExtensionPatterns(".scc"), Patterns{"*.scc"});
    EXPECT_EQ(tk::ExtensionPatterns("scc; *.txt ;;.SCC;.scc"), (Patterns{"*.scc", "*.txt", "*.SCC"}));
    EXPECT_EQ(tk::ExtensionPatterns(""), Patterns{});
    EXPECT_EQ(tk::ExtensionPatterns(" ; . ;*"), Patterns{});
}

}  // namespace
