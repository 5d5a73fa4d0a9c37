#include "app/Startup.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QString>
#include <QtGlobal>

#include "app/App.h"
#include "app/FileTypes1.h"
#include "app/MenuBar1.h"
#include "app/Window1.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Runtime.h"

namespace quillet {
namespace {

std::function<void(Step)>& observer() {
    static std::function<void(Step)> o;
    return o;
}

// Before a step of the start-up sequence: the observer may make the step fail.
void beforeStartupStep(Step step) {
    if (observer())
        observer()(step);
}

// Before any other step: nothing here may stop the run, so a throw is dropped.
void beforeStep(Step step) noexcept {
    try {
        beforeStartupStep(step);
    } catch (...) {
    }
}

// The classes reached through plug-in entry points: the bevel button, three controls
// this toolkit does not have, and the regular-expression classes.
constexpr std::string_view kPluginEntrypoints[] = {
    "BevelButton", "Placard", "DisclosureTriangle", "ImageWell", "RegEx", "RegExOptions", "RegExMatch",
};

// While the runtime opens the display, Qt's own messages are held back: when the display
// cannot be reached Qt ends the process with a fatal message (and a core dump), and a
// user is better served by one plain line and an ordinary failure exit.
struct HeldMessage {
    QtMsgType type;
    std::string category, file, function;
    int line;
    QString text;
};
std::vector<HeldMessage> g_heldMessages;
QtMessageHandler g_previousHandler = nullptr;

void holdStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr, "Quillet: cannot open the graphical display%s%s; no window can be shown.\n",
                     display && *display ? " " : "", display && *display ? display : "");
        std::fflush(stderr);
        std::_Exit(1);
    }
    // Qt calls this from deep inside itself: nothing may escape it. A message that
    // cannot be kept for lack of memory is dropped.
    try {
        g_heldMessages.push_back({type, context.category ? context.category : "", context.file ? context.file : "",
                                  context.function ? context.function : "", context.line, text});
    } catch (...) {
    }
}

void releaseStartupMessages() {
    qInstallMessageHandler(g_previousHandler);
    std::vector<HeldMessage> held = std::move(g_heldMessages);
    g_heldMessages.clear();
    for (const HeldMessage& m : held) {
        QMessageLogContext context(m.file.c_str(), m.line, m.function.c_str(), m.category.c_str());
        if (g_previousHandler)
            g_previousHandler(m.type, context, m.text);
        else
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(m.type, context, m.text)));
    }
}

bool startRuntime(int& argc, char** argv) {
    g_previousHandler = qInstallMessageHandler(holdStartupMessage);
    const bool started = tk::RuntimeInit(argc, argv);
    releaseStartupMessages();
    return started;
}

void initialize() {
    // The toolkit's classes were registered by RuntimeInit; the program's own follow.
    App::__ctblinit();
    Window1::__ctblinit();
    MenuBar1::__ctblinit();
}

void finalize() {
    beforeStep(Step::ReleaseToolkitObjects);
    tk::RuntimeReleaseModuleObjects();
    beforeStep(Step::ReleaseMenuBar);
    MenuBar1::_implicitInstance_Exit();
    // Last, so the type stays registered for as long as anything could still open a file.
    beforeStep(Step::ReleaseFileType);
    FileTypes1::pTextScc_Exit();
}

}  // namespace

const char* StepName(Step step) {
    switch (step) {
    case Step::RuntimeInit: return "RuntimeInit";
    case Step::Initialize: return "initialize";
    case Step::InitExternalClasses: return "RuntimeInitExternalClasses";
    case Step::InitPluginEntrypoints: return "_InitPluginEntrypoints";
    case Step::InitFileTypes: return "_InitFileTypes";
    case Step::NewAppInstance: return "_NewAppInstance";
    case Step::ApplicationAddMenuHandlers: return "_ApplicationAddMenuHandlers";
    case Step::MakeDefaultView: return "_MakeDefaultView";
    case Step::RuntimeRun: return "RuntimeRun";
    case Step::ReleaseToolkitObjects: return "release toolkit objects";
    case Step::ReleaseMenuBar: return "release MenuBar1";
    case Step::ReleaseFileType: return "release FileTypes1.pTextScc";
    case Step::RuntimeExit: return "RuntimeExit";
    }
    return "?";
}

void SetStepObserver(std::function<void(Step)> o) { observer() = std::move(o); }

void _InitPluginEntrypoints() {
    tk::PluginEntrypointsTable& table = tk::RuntimeAllocatePluginEntrypointsTable(std::size(kPluginEntrypoints));
    for (std::size_t i = 0; i < std::size(kPluginEntrypoints); ++i)
        table.at(i) = tk::RuntimeLookupPluginEntrypoint(kPluginEntrypoints[i]);
}

void _InitFileTypes() { FileTypes1::_Initialize(); }

void _NewAppInstance() {
    tk::Ref<App> app = tk::RuntimeNew<App>(App::__Lookup());
    tk::RuntimeNotNil(app, "The application object")->SetMenuBar(implicit::MenuBar1());
    tk::RuntimeRegisterAppObject(app);
    // From here on the runtime's registration owns it.
}

void _ApplicationAddMenuHandlers() {
    tk::Ref<tk::Delegate> handler = tk::RuntimeCreateDelegate(
        tk::RuntimeNotNil(implicit::App(), "The application object"), "_FileNewWindow_Action",
        "(  ) as Boolean");
    tk::RuntimeNotNil(implicit::App(), "The application object")->_AddMenuHandler("FileNewWindow", handler);
}

void _MakeDefaultView() {
    // The toolkit keeps the window as Window1's implicit instance; no reference is kept here.
    tk::RuntimeNotNil(implicit::Window1(), "The main window");
}

void _Main() {
    try {
        beforeStartupStep(Step::InitExternalClasses);
        tk::RuntimeInitExternalClasses();
        beforeStartupStep(Step::InitPluginEntrypoints);
        _InitPluginEntrypoints();
        beforeStartupStep(Step::InitFileTypes);
        _InitFileTypes();
        beforeStartupStep(Step::NewAppInstance);
        _NewAppInstance();
        beforeStartupStep(Step::ApplicationAddMenuHandlers);
        _ApplicationAddMenuHandlers();
        beforeStartupStep(Step::MakeDefaultView);
        _MakeDefaultView();
        beforeStartupStep(Step::RuntimeRun);
        tk::RuntimeRun();
    } catch (const std::exception& e) {
        // The last resort: report once, skip what is left, and let shut-down run.
        tk::RuntimeUnhandledException(e);
    } catch (...) {
        tk::RuntimeUnhandledException(std::current_exception());
    }
}

int RunQuillet(int& argc, char** argv) {
    beforeStep(Step::RuntimeInit);
    if (!startRuntime(argc, argv)) {
        std::fprintf(stderr, "Quillet: %s\n", tk::RuntimeInitError().c_str());
        return 1;
    }
    // A logout or a closed terminal ends the program as Quit does, leaving no temporary file.
    tk::RuntimeQuitOnTerminationSignals();
    beforeStep(Step::Initialize);
    initialize();
    _Main();
    finalize();
    beforeStep(Step::RuntimeExit);
    return tk::RuntimeExit();
}

}  // namespace quillet
