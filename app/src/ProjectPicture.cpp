#include "app/ProjectPicture.h"

#include "toolkit/Exceptions.h"

namespace quillet {
namespace {

std::function<tk::Ref<tk::FolderItem>()>& executableGetter() {
    static std::function<tk::Ref<tk::FolderItem>()> getter;
    return getter;
}

// Kept for the whole run once a load has succeeded; never released.
tk::Ref<tk::Picture>& cachedPicture() {
    static tk::Ref<tk::Picture> pic;
    return pic;
}

std::uint64_t g_fileReads = 0;

}  // namespace

tk::Ref<tk::FolderItem> _GetApplicationBundleResources() {
    const auto& getter = executableGetter();
    tk::Ref<tk::FolderItem> executable = getter ? getter() : tk::AppFolderItemGetter();
    if (!executable)
        throw tk::NilObjectException("The application's executable file cannot be found.");
    tk::Ref<tk::FolderItem> macOS = executable->Parent();
    if (!macOS)
        throw tk::NilObjectException("The executable's folder cannot be found.");
    tk::Ref<tk::FolderItem> contents = macOS->Parent();
    if (!contents)
        throw tk::NilObjectException("The application's Contents folder cannot be found.");
    return contents->Child("Resources");
}

namespace _x_Quillet {

tk::Ref<tk::Picture> Quillet() {
    tk::Ref<tk::Picture>& pic = cachedPicture();
    if (!pic) {
        tk::Ref<tk::FolderItem> resources = _GetApplicationBundleResources();
        if (resources) {
            tk::Ref<tk::FolderItem> file = resources->Child("Quillet.png");
            if (!file)
                throw tk::NilObjectException("The picture's file item is nil.");
            ++g_fileReads;
            pic = file->OpenAsPicture();
        }
    }
    return pic;
}

void SetExecutableItemGetter(std::function<tk::Ref<tk::FolderItem>()> getter) {
    executableGetter() = std::move(getter);
}

void ResetCache() { cachedPicture().reset(); }

std::uint64_t FileReads() noexcept { return g_fileReads; }

}  // namespace _x_Quillet
}  // namespace quillet
