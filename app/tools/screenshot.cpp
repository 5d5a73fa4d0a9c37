// Renders the main window offscreen into a PNG (the README's pictures): as it starts, or
// after converting an SCC file, with the dialogs answered by a script.
//   cmake --build build --target quillet_screenshot
//   build/Quillet/Contents/MacOS/quillet_screenshot docs/window.png
//   build/Quillet/Contents/MacOS/quillet_screenshot docs/converted.png INPUT.scc OUTPUT.txt
// It lives beside the program so the window finds its picture the same way.
#include <QApplication>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "app/MenuBar1.h"
#include "app/Window1.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Runtime.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [INPUT.scc TRANSCRIPT.txt]\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!tk::RuntimeInit(argc, argv)) {
        std::fprintf(stderr, "quillet_screenshot: %s\n", tk::RuntimeInitError().c_str());
        return 1;
    }
    int rc = 0;
    {
        tk::Ref<quillet::Window1> window = quillet::implicit::Window1();
        window->Show();
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        if (argc == 4) {
            auto chooser = std::make_shared<tk::ScriptedChooser>();
            chooser->SetAutoDismissMessages(true);
            chooser->AnswerPath(argv[2]).AnswerPath(argv[3]);
            tk::ScopedDialogChooser scope(chooser);
            window->importSCC();
            for (int i = 0; i < 5; ++i)
                QApplication::processEvents();
        }
        if (!window->Widget()->grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
            std::fprintf(stderr, "quillet_screenshot: cannot write %s\n", argv[1]);
            rc = 1;
        }
        window->Close();
    }
    quillet::MenuBar1::_implicitInstance_Exit();
    const int exitCode = tk::RuntimeExit();
    return rc != 0 ? rc : exitCode;
}
