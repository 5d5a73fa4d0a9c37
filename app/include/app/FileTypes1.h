#pragma once
// The SCC file type: built and registered once at start-up, before the application
// object exists, and released as the very last module-level object at shut-down. The
// open dialog of an import names the type by its text, kSccFileTypeName.
#include "toolkit/FileType.h"

namespace quillet::FileTypes1 {

inline constexpr const char* kSccFileTypeName = "text/scc";

// The module's one reference to the type; nil before _Initialize and after shut-down.
extern tk::Ref<tk::FileType> pTextScc;

// Builds the type (Name, Extensions, MacType, MacCreator, in that order) and registers it.
void _Initialize();

// Drops the module's reference; with the last reference gone the type deregisters itself.
void pTextScc_Exit() noexcept;

}  // namespace quillet::FileTypes1
