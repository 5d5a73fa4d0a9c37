#include "toolkit/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <mutex>

#include "AsciiText.h"
#include "QtText.h"
#include "toolkit/FileType.h"
#include "toolkit/FolderItem.h"

namespace tk {
namespace {

std::string TypeLabel(std::string_view name) {
    const auto slash = name.rfind('/');
    std::string_view label = slash == std::string_view::npos ? name : name.substr(slash + 1);
    if (label.empty()) label = name;
    return detail::AsciiUpper(label);
}

// The dialog's filter lines for the caller's filter text, joined by ";;" as Qt takes them.
std::string NameFilters(std::string_view typeNames) {
    std::vector<std::string> lines;
    const auto add = [&lines](std::string line) {
        for (const auto& existing : lines)
            if (existing == line) return;
        lines.push_back(std::move(line));
    };
    std::string_view rest = typeNames;
    while (true) {
        const auto cut = rest.find(';');
        const std::string_view name = detail::TrimBlanks(rest.substr(0, cut));
        if (!name.empty()) {
            for (const auto& type : RegisteredFileTypesNamed(name)) {
                const auto patterns = ExtensionPatterns(type.extensions);
                if (patterns.empty()) continue;
                std::string line = TypeLabel(type.name) + " files (";
                for (std::size_t i = 0; i < patterns.size(); ++i) line += (i ? " " : "") + patterns[i];
                add(line + ")");
            }
        }
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    if (lines.empty() && detail::EqualsIgnoringAsciiCase(detail::TrimBlanks(typeNames), "TEXT"))
        add("Text files (*.txt)");
    add("All files (*)");
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) joined += (i ? ";;" : "") + lines[i];
    return joined;
}

// The real dialogs. They need a QApplication; without one a dialog call raises an
// exception instead of crashing.
class QtChooser : public DialogChooser {
public:
    void ShowMessage(const DialogRequest& request) override {
        RequireGui();
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(),
                        detail::ToQt(request.message), QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }

    std::optional<std::filesystem::path> ChooseFile(const DialogRequest& request) override {
        RequireGui();
        QString chosen;
        if (request.kind == DialogKind::Save) {
            const QString proposed = QDir(StartFolder()).filePath(detail::ToQt(request.proposedName));
            // QFileDialog asks before replacing an existing file unless told otherwise.
            chosen = QFileDialog::getSaveFileName(QApplication::activeWindow(), QObject::tr("Save File"),
                                                  proposed, detail::ToQt(request.nameFilters));
        } else {
            chosen = QFileDialog::getOpenFileName(QApplication::activeWindow(), QObject::tr("Open File"),
                                                  StartFolder(), detail::ToQt(request.nameFilters));
        }
        if (chosen.isEmpty()) return std::nullopt;
        lastFolder_ = QFileInfo(chosen).absolutePath();
        return detail::PathFromQt(chosen);
    }

private:
    static void RequireGui() {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
            throw RuntimeException("A dialog cannot be shown without a running GUI application.");
    }

    QString StartFolder() const {
        if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir()) return lastFolder_;
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
        return QDir::homePath();
    }

    QString lastFolder_;  // kept for this run only
};

std::mutex gChooserMutex;
std::shared_ptr<DialogChooser> gChooser;

const char* KindName(DialogKind kind) {
    switch (kind) {
        case DialogKind::Message: return "message box";
        case DialogKind::Open: return "open dialog";
        case DialogKind::Save: return "save dialog";
    }
    return "dialog";
}

Ref<FolderItem> AskForFile(DialogRequest request) {
    const auto chooser = CurrentDialogChooser();
    const auto path = chooser->ChooseFile(request);
    if (!path || path->empty()) return nullptr;
    return std::make_shared<FolderItem>(*path);
}

}  // namespace

void SetDialogChooser(std::shared_ptr<DialogChooser> chooser) {
    std::lock_guard lock(gChooserMutex);
    gChooser = std::move(chooser);
}

std::shared_ptr<DialogChooser> CurrentDialogChooser() {
    std::lock_guard lock(gChooserMutex);
    if (!gChooser) gChooser = std::make_shared<QtChooser>();
    return gChooser;
}

ScopedDialogChooser::ScopedDialogChooser(std::shared_ptr<DialogChooser> chooser) {
    std::lock_guard lock(gChooserMutex);
    previous_ = std::exchange(gChooser, std::move(chooser));
}

ScopedDialogChooser::~ScopedDialogChooser() { SetDialogChooser(std::move(previous_)); }

void MsgBox(std::string_view text) {
    DialogRequest request;
    request.kind = DialogKind::Message;
    request.message = std::string(text);
    const auto chooser = CurrentDialogChooser();
    chooser->ShowMessage(request);
}

Ref<FolderItem> GetOpenFolderItem(std::string_view fileTypeNames) {
    DialogRequest request;
    request.kind = DialogKind::Open;
    request.filter = std::string(fileTypeNames);
    request.nameFilters = NameFilters(fileTypeNames);
    return AskForFile(std::move(request));
}

Ref<FolderItem> GetSaveFolderItem(std::string_view filter, std::string_view proposedName) {
    DialogRequest request;
    request.kind = DialogKind::Save;
    request.filter = std::string(filter);
    request.nameFilters = NameFilters(filter);
    request.proposedName = std::string(proposedName);
    return AskForFile(std::move(request));
}

// ---- ScriptedChooser ------------------------------------------------------------------

ScriptedChooser& ScriptedChooser::AnswerPath(std::filesystem::path path) {
    answers_.push_back({AnswerKind::Path, std::move(path)});
    return *this;
}

ScriptedChooser& ScriptedChooser::AnswerCancel() {
    answers_.push_back({AnswerKind::Cancel, {}});
    return *this;
}

ScriptedChooser& ScriptedChooser::AnswerDismiss() {
    answers_.push_back({AnswerKind::Dismiss, {}});
    return *this;
}

void ScriptedChooser::Unexpected(const DialogRequest& request, const std::string& why) {
    ++unexpected_;
    std::string detail = request.kind == DialogKind::Message
                             ? " \"" + request.message + "\""
                             : " (filter \"" + request.filter + "\")";
    throw UnexpectedDialogException(std::string("Unexpected ") + KindName(request.kind) + detail +
                                    ": " + why);
}

void ScriptedChooser::ShowMessage(const DialogRequest& request) {
    shown_.push_back(request);
    if (!answers_.empty() && answers_.front().kind == AnswerKind::Dismiss) {
        answers_.pop_front();
        return;
    }
    if (autoDismiss_) return;
    Unexpected(request, answers_.empty() ? "no answer left in the script"
                                         : "the next answer is for a file dialog");
}

std::optional<std::filesystem::path> ScriptedChooser::ChooseFile(const DialogRequest& request) {
    shown_.push_back(request);
    if (answers_.empty()) Unexpected(request, "no answer left in the script");
    const Answer answer = answers_.front();
    if (answer.kind == AnswerKind::Dismiss)
        Unexpected(request, "the next answer is for a message box");
    answers_.pop_front();
    if (answer.kind == AnswerKind::Cancel) return std::nullopt;
    return answer.path;
}

}  // namespace tk
