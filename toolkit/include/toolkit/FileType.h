#pragma once
// File types: a name plus the file extensions (and Mac codes) that belong to it. The
// open dialog is filtered by the name of a registered type.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Object.h"

namespace tk {

// One registration with the runtime, as the query below reports it.
struct RegisteredFileType {
    std::uint64_t id = 0;  // unique per registration, never reused
    std::string name;
    std::string macCreator;
    std::string macType;
    std::string extensions;  // as registered, e.g. ".scc" or ".scc;.txt"
};

// Registers a type and returns its registration id. Registering the same name twice
// gives two registrations; the open dialog lists such a name once.
std::uint64_t RuntimeRegisterFileType(std::string_view name, std::string_view macCreator,
                                      std::string_view macType, std::string_view extensions);
// Removes one registration; an unknown id is ignored.
void RuntimeUnregisterFileType(std::uint64_t id) noexcept;

// Every current registration, oldest first.
std::vector<RegisteredFileType> RegisteredFileTypes();
// The registrations whose name equals `name` exactly (case-sensitive).
std::vector<RegisteredFileType> RegisteredFileTypesNamed(std::string_view name);

// The file-name patterns of an extensions text: the pieces between ";" with spaces
// trimmed, each made "*.ext" whether written ".ext", "ext" or "*.ext"; empty pieces
// are skipped. ".scc" gives {"*.scc"}.
std::vector<std::string> ExtensionPatterns(std::string_view extensions);

class FileType : public Object {
public:
    FileType() = default;
    ~FileType() override;  // deregisters a registered type

    const std::string& Name() const noexcept { return name_; }
    const std::string& Extensions() const noexcept { return extensions_; }
    const std::string& MacType() const noexcept { return macType_; }
    const std::string& MacCreator() const noexcept { return macCreator_; }

    // Each setter first deregisters the type when it is registered, so a registration
    // never describes stale fields; Operator_Convert registers it again.
    void SetName(std::string value);
    void SetExtensions(std::string value);
    void SetMacType(std::string value);
    void SetMacCreator(std::string value);

    // Registers the type when it is not registered yet (Name, MacCreator, MacType,
    // Extensions) and yields its Name.
    std::string Operator_Convert();

    bool IsRegistered() const noexcept { return registration_ != 0; }

private:
    void Deregister() noexcept;

    std::string name_, extensions_, macType_, macCreator_;
    std::uint64_t registration_ = 0;
};

}  // namespace tk
