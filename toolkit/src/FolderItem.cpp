#include "toolkit/FolderItem.h"

#include <QCoreApplication>
#include <system_error>

#include "QtText.h"
#include "toolkit/Picture.h"
#include "toolkit/TextStreams.h"

namespace tk {

namespace fs = std::filesystem;

FolderItem::FolderItem(const fs::path& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error) absolute = path;
    absolute = absolute.lexically_normal();
    // "/a/b/" names the folder b; keep one spelling so Name and Parent agree.
    if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
    path_ = std::move(absolute);
}

namespace {
// The system cuts a path at its first NUL, so such a path would name another file than
// the one given; it names none.
bool HoldsNul(const fs::path& path) { return path.native().find('\0') != std::string::npos; }
}  // namespace

Ref<FolderItem> FolderItem::FromPath(std::string_view utf8Path) {
    if (utf8Path.find('\0') != std::string_view::npos) return nullptr;
    return std::make_shared<FolderItem>(fs::path(std::string(utf8Path)));
}

std::string FolderItem::Name() const {
    if (!path_.has_relative_path()) return path_.string();
    return path_.filename().string();
}

std::string FolderItem::NativePath() const { return path_.string(); }

bool FolderItem::Exists() const {
    if (HoldsNul(path_)) return false;
    std::error_code error;
    return fs::exists(path_, error);
}

bool FolderItem::IsFolder() const {
    if (HoldsNul(path_)) return false;
    std::error_code error;
    return fs::is_directory(path_, error);
}

Ref<FolderItem> FolderItem::Parent() const {
    if (!path_.has_relative_path()) return nullptr;
    return std::make_shared<FolderItem>(path_.parent_path());
}

Ref<FolderItem> FolderItem::Child(std::string_view name) const {
    if (name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return nullptr;
    return std::make_shared<FolderItem>(path_ / fs::path(std::string(name)));
}

Ref<TextInputStream> FolderItem::OpenAsTextFile() const { return TextInputStream::Open(path_); }

Ref<TextInputStream> FolderItem::OpenAsTextFile(std::string& reason) const {
    return TextInputStream::Open(path_, reason);
}

Ref<TextOutputStream> FolderItem::CreateTextFile() const { return TextOutputStream::Create(path_); }

Ref<Picture> FolderItem::OpenAsPicture() const { return Picture::Open(path_); }

Ref<FolderItem> AppFolderItemGetter() {
    if (QCoreApplication::instance() != nullptr) {
        const QString path = QCoreApplication::applicationFilePath();
        if (!path.isEmpty()) return std::make_shared<FolderItem>(detail::PathFromQt(path));
    }
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error || self.empty()) return nullptr;
    return std::make_shared<FolderItem>(self);
}

}  // namespace tk
