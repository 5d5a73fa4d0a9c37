#pragma once
// Modal dialogs: message box, open-file and save-file dialogs. Every dialog goes
// through one DialogChooser. The product's default shows real Qt dialogs; tests install
// a ScriptedChooser that answers from a script and records what was shown.
#include <cstddef>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Exceptions.h"
#include "toolkit/Object.h"

namespace tk {

class FolderItem;

// Shows a modal message box with the text and one OK button; returns when dismissed.
void MsgBox(std::string_view text);

// Lets the user choose an existing file. `fileTypeNames` names one registered file
// type, or several separated by ";"; the dialog offers each named type's extensions
// ("SCC files (*.scc)": the label is the part of the name after its last "/", in
// capitals) and then "All files (*)". When no name is registered, "TEXT" (any letter
// case) offers "Text files (*.txt)" and anything else only "All files (*)". Nil when
// the user cancels. The dialogs start in the folder last chosen in this run, else in
// the user's documents folder.
Ref<FolderItem> GetOpenFolderItem(std::string_view fileTypeNames);

// Lets the user choose where to save, proposing `proposedName`; asks before replacing
// an existing file. `filter` is read as the open dialog's names are. Nil when the user
// cancels.
Ref<FolderItem> GetSaveFolderItem(std::string_view filter, std::string_view proposedName);

enum class DialogKind { Message, Open, Save };

// What a dialog call asks for.
struct DialogRequest {
    DialogKind kind = DialogKind::Message;
    std::string message;       // Message: the text shown
    std::string filter;        // Open/Save: the filter text the caller passed
    std::string nameFilters;   // Open/Save: the dialog's filter lines, ";;"-separated
    std::string proposedName;  // Save: the proposed file name
};

class DialogChooser {
public:
    virtual ~DialogChooser() = default;
    // Returns when the message box is dismissed.
    virtual void ShowMessage(const DialogRequest& request) = 0;
    // The chosen path for an Open or Save request, or nullopt when cancelled.
    virtual std::optional<std::filesystem::path> ChooseFile(const DialogRequest& request) = 0;
};

// The chooser in force. Installing nullptr brings back the Qt dialogs.
void SetDialogChooser(std::shared_ptr<DialogChooser> chooser);
std::shared_ptr<DialogChooser> CurrentDialogChooser();

// Installs a chooser for its lifetime and puts the previous one back afterwards.
class ScopedDialogChooser {
public:
    explicit ScopedDialogChooser(std::shared_ptr<DialogChooser> chooser);
    ~ScopedDialogChooser();
    ScopedDialogChooser(const ScopedDialogChooser&) = delete;
    ScopedDialogChooser& operator=(const ScopedDialogChooser&) = delete;

private:
    std::shared_ptr<DialogChooser> previous_;
};

// A dialog that the script did not expect: no answer was left, or the next answer is
// for another kind of dialog.
class UnexpectedDialogException : public RuntimeException {
public:
    explicit UnexpectedDialogException(const std::string& message)
        : RuntimeException("UnexpectedDialogException", message) {}
};

// Answers dialogs from a queue, in order, and records every dialog shown.
//   AnswerPath(p): the next open/save dialog returns p.
//   AnswerCancel(): the next open/save dialog is cancelled.
//   AnswerDismiss(): the next message box is dismissed.
// A dialog with no answer left, or whose answer is of the wrong kind, is still recorded,
// counted in UnexpectedCount(), and raises UnexpectedDialogException, so a test fails
// loudly rather than hanging on a real dialog. With SetAutoDismissMessages(true),
// message boxes need no answer of their own.
class ScriptedChooser : public DialogChooser {
public:
    ScriptedChooser& AnswerPath(std::filesystem::path path);
    ScriptedChooser& AnswerCancel();
    ScriptedChooser& AnswerDismiss();
    void SetAutoDismissMessages(bool on) noexcept { autoDismiss_ = on; }

    void ShowMessage(const DialogRequest& request) override;
    std::optional<std::filesystem::path> ChooseFile(const DialogRequest& request) override;

    // Every dialog shown, in order (also the unexpected ones).
    const std::vector<DialogRequest>& Shown() const noexcept { return shown_; }
    // Answers not used yet.
    std::size_t PendingAnswers() const noexcept { return answers_.size(); }
    std::size_t UnexpectedCount() const noexcept { return unexpected_; }
    void ClearShown() noexcept { shown_.clear(); }

private:
    enum class AnswerKind { Path, Cancel, Dismiss };
    struct Answer {
        AnswerKind kind;
        std::filesystem::path path;
    };
    [[noreturn]] void Unexpected(const DialogRequest& request, const std::string& why);

    std::deque<Answer> answers_;
    std::vector<DialogRequest> shown_;
    std::size_t unexpected_ = 0;
    bool autoDismiss_ = false;
};

}  // namespace tk
