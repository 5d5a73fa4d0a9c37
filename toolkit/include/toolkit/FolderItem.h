#pragma once
// A location in the file system: a file or a folder, existing or not. Names and paths
// are UTF-8 texts.
#include <filesystem>
#include <string>
#include <string_view>

#include "toolkit/Object.h"

namespace tk {

class Picture;
class TextInputStream;
class TextOutputStream;

class FolderItem : public Object {
public:
    // The path is made absolute (against the current folder) and lexically normal.
    explicit FolderItem(const std::filesystem::path& path);
    // Nil for a path holding a NUL character, which no file can have. (An item made
    // from such a path directly exists nowhere and opens nothing.)
    static Ref<FolderItem> FromPath(std::string_view utf8Path);

    // The leaf name with its extension ("show.scc"); "/" for the root.
    std::string Name() const;
    // The absolute path as UTF-8 text.
    std::string NativePath() const;
    const std::filesystem::path& Path() const noexcept { return path_; }

    bool Exists() const;
    bool IsFolder() const;

    // The folder that holds this item; nil for the root.
    Ref<FolderItem> Parent() const;
    // The item called `name` inside this folder. It is an item whether or not it (or
    // this folder) exists, so a chain of Child calls never breaks; ask Exists(). Nil
    // only when `name` is not one plain name: empty, ".", "..", or holding "/" or NUL.
    Ref<FolderItem> Child(std::string_view name) const;

    // A stream over the file's text, or nil when it cannot be opened (missing, a
    // folder, no permission).
    Ref<TextInputStream> OpenAsTextFile() const;
    // The same, telling why in `reason` (the system's words) when it gives nil.
    Ref<TextInputStream> OpenAsTextFile(std::string& reason) const;
    // A stream that writes a new text file here, replacing any existing file only when
    // the stream is closed successfully. Raises IOException (naming the file) when
    // the file cannot be created: a missing or unwritable folder, or a folder here.
    Ref<TextOutputStream> CreateTextFile() const;
    // The picture in the file (PNG, JPEG and the other formats Qt reads), or nil when
    // it is missing, unreadable or corrupt.
    Ref<Picture> OpenAsPicture() const;

private:
    std::filesystem::path path_;
};

// The running executable's own file, or nil when it cannot be found.
Ref<FolderItem> AppFolderItemGetter();

}  // namespace tk
