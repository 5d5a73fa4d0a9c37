#pragma once
// The project picture "Quillet.png", found in the application's resources folder and
// loaded on first demand. Every main window's canvas shows the same cached object.
#include <cstdint>
#include <functional>

#include "toolkit/FolderItem.h"
#include "toolkit/Picture.h"

namespace quillet {

// The application's resources folder: the executable's parent's parent, then its child
// "Resources". Raises NilObjectException when the executable item or a parent is nil.
tk::Ref<tk::FolderItem> _GetApplicationBundleResources();

namespace _x_Quillet {

// The picture, or nil while no load has succeeded. Once a load succeeds the same object
// is returned for the rest of the run and no file is touched again; while it has not,
// every call looks for the file again. A missing picture is not an error.
tk::Ref<tk::Picture> Quillet();

// --- seams for tests ----------------------------------------------------------------
// Replaces the runtime's executable item (nullptr restores AppFolderItemGetter).
void SetExecutableItemGetter(std::function<tk::Ref<tk::FolderItem>()> getter);
// Forgets the cached picture, as at process start.
void ResetCache();
// How many times the picture file has been opened so far.
std::uint64_t FileReads() noexcept;

}  // namespace _x_Quillet
}  // namespace quillet
