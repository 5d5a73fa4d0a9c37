// Folder items and pictures.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "toolkit/Exceptions.h"
#include "toolkit/FolderItem.h"
#include "toolkit/Picture.h"

namespace {

namespace fs = std::filesystem;

TEST(FolderItemTest, NamesParentsAndChildren) {
    auto item = tk::FolderItem::FromPath("/tmp/some folder/Show.Name.SCC");
    EXPECT_EQ(item->Name(), "Show.Name.SCC");
    EXPECT_EQ(item->NativePath(), "/tmp/some folder/Show.Name.SCC");
    EXPECT_EQ(item->Parent()->Name(), "some folder");
    EXPECT_EQ(item->Parent()->Parent()->Parent()->Name(), "/");
    EXPECT_EQ(item->Parent()->Parent()->Parent()->Parent(), nullptr);

    EXPECT_EQ(tk::FolderItem::FromPath("/tmp/a/../b/./c/")->NativePath(), "/tmp/b/c");
    EXPECT_EQ(tk::FolderItem::FromPath("/tmp/b/c/")->Name(), "c");
    EXPECT_TRUE(tk::FolderItem::FromPath("relative.txt")->Path().is_absolute());
    EXPECT_EQ(tk::FolderItem::FromPath("caf\xC3\xA9.scc")->Name(), "caf\xC3\xA9.scc");

    // A chain of children never breaks, even through folders that do not exist.
    auto deep = tk::FolderItem::FromPath("/no/such/folder")->Child("Resources");
    ASSERT_NE(deep, nullptr);
    auto leaf = deep->Child("Quillet.png");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->NativePath(), "/no/such/folder/Resources/Quillet.png");
    EXPECT_FALSE(leaf->Exists());
    EXPECT_EQ(leaf->OpenAsTextFile(), nullptr);
    EXPECT_EQ(leaf->OpenAsPicture(), nullptr);

    for (const char* bad : {"", ".", "..", "a/b", "/etc"}) EXPECT_EQ(item->Child(bad), nullptr) << bad;
    EXPECT_EQ(item->Child(std::string_view("a\0b", 3)), nullptr);

    // A NUL would cut the path short at the system: such a path names no file at all.
    EXPECT_EQ(tk::FolderItem::FromPath(std::string_view("/tmp\0/etc/passwd", 16)), nullptr);
    const tk::FolderItem withNul(std::string("/etc/passwd\0.scc", 16));
    EXPECT_FALSE(withNul.Exists());
    EXPECT_EQ(withNul.OpenAsTextFile(), nullptr);
    EXPECT_EQ(withNul.OpenAsPicture(), nullptr);
    EXPECT_THROW(withNul.CreateTextFile(), tk::IOException);
}

TEST(FolderItemTest, TheApplicationsOwnFile) {
    auto self = tk::AppFolderItemGetter();
    ASSERT_NE(self, nullptr);
    EXPECT_TRUE(self->Exists());
    EXPECT_FALSE(self->IsFolder());
    EXPECT_EQ(self->Name(), "toolkit_tests");
    EXPECT_TRUE(self->Parent()->IsFolder());
}

TEST(FolderItemTest, PicturesLoadOrGiveNil) {
    QTemporaryDir dir;
    const fs::path folder(dir.path().toStdString());
    QImage image(7, 3, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString((folder / "Quillet.png").string()), "PNG"));

    auto picture = tk::FolderItem(folder / "Quillet.png").OpenAsPicture();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Width(), 7);
    EXPECT_EQ(picture->Height(), 3);
    EXPECT_EQ(picture->Image().pixelColor(2, 1), QColor(Qt::red));

    // A PNG signature followed by garbage, a truncated PNG, a text file, a folder.
    std::ofstream(folder / "corrupt.png", std::ios::binary) << "\x89PNG\r\n\x1a\n" << std::string(200, '\x42');
    std::ifstream good(folder / "Quillet.png", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(good)), std::istreambuf_iterator<char>());
    std::ofstream(folder / "truncated.png", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    std::ofstream(folder / "text.png") << "not a picture\n";
    for (const char* name : {"corrupt.png", "truncated.png", "text.png", "missing.png"})
        EXPECT_EQ(tk::FolderItem(folder / name).OpenAsPicture(), nullptr) << name;
    EXPECT_EQ(tk::FolderItem(folder).OpenAsPicture(), nullptr);
}

}  // namespace
