#include "toolkit/FileType.h"

#include <algorithm>
#include <mutex>

#include "AsciiText.h"

namespace tk {
namespace {

struct Registry {
    std::mutex mutex;
    std::vector<RegisteredFileType> entries;
    std::uint64_t nextId = 1;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

std::uint64_t RuntimeRegisterFileType(std::string_view name, std::string_view macCreator,
                                      std::string_view macType, std::string_view extensions) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    RegisteredFileType entry{r.nextId++, std::string(name), std::string(macCreator),
                             std::string(macType), std::string(extensions)};
    r.entries.push_back(std::move(entry));
    return r.entries.back().id;
}

void RuntimeUnregisterFileType(std::uint64_t id) noexcept {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    std::erase_if(r.entries, [id](const RegisteredFileType& e) { return e.id == id; });
}

std::vector<RegisteredFileType> RegisteredFileTypes() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return r.entries;
}

std::vector<RegisteredFileType> RegisteredFileTypesNamed(std::string_view name) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    std::vector<RegisteredFileType> found;
    for (const auto& e : r.entries)
        if (e.name == name) found.push_back(e);
    return found;
}

std::vector<std::string> ExtensionPatterns(std::string_view extensions) {
    std::vector<std::string> patterns;
    while (true) {
        const auto cut = extensions.find(';');
        std::string_view piece = detail::TrimBlanks(extensions.substr(0, cut));
        if (piece.starts_with('*')) piece.remove_prefix(1);
        if (piece.starts_with('.')) piece.remove_prefix(1);
        if (!piece.empty()) {
            std::string pattern = "*." + std::string(piece);
            if (std::find(patterns.begin(), patterns.end(), pattern) == patterns.end())
                patterns.push_back(std::move(pattern));
        }
        if (cut == std::string_view::npos) break;
        extensions.remove_prefix(cut + 1);
    }
    return patterns;
}

FileType::~FileType() { Deregister(); }

void FileType::Deregister() noexcept {
    if (registration_ != 0) {
        RuntimeUnregisterFileType(registration_);
        registration_ = 0;
    }
}

void FileType::SetName(std::string value) {
    Deregister();
    name_ = std::move(value);
}
void FileType::SetExtensions(std::string value) {
    Deregister();
    extensions_ = std::move(value);
}
void FileType::SetMacType(std::string value) {
    Deregister();
    macType_ = std::move(value);
}
void FileType::SetMacCreator(std::string value) {
    Deregister();
    macCreator_ = std::move(value);
}

std::string FileType::Operator_Convert() {
    if (registration_ == 0)
        registration_ = RuntimeRegisterFileType(name_, macCreator_, macType_, extensions_);
    return name_;
}

}  // namespace tk
