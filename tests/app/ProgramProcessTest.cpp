// The built program as a user starts it: on a display it shows its window and quits
// from its menu with exit code 0; without a display it says so in one line.
//
// The offscreen platform cannot take keys from another process, so the test runs the
// program on a virtual X display of its own (Xvfb, which picks a free display number
// itself) and plays the user with xdotool: wait for the "Quillet" window, click into it
// so it has the keyboard focus, press Ctrl+Q (the File menu's "&Quit", Cmd+Q).
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QThread>
#include <fstream>
#include <string>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "VirtualDisplay.h"

namespace {

using quillet::testing::VirtualDisplay;

QProcessEnvironment environmentWithoutDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    return env;
}

// Runs a helper to its end and keeps its standard output; true when it succeeded.
bool runTool(const QProcessEnvironment& env, const QString& program, const QStringList& args, QString* out,
             int timeoutMs = 20000) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

TEST(ProgramProcess, ShowsItsWindowAndQuitsFromTheMenu) {
    const QString xdotool = QStandardPaths::findExecutable("xdotool");
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() || xdotool.isEmpty())
        GTEST_SKIP() << "Xvfb and xdotool are needed to run the program on a virtual display "
                        "(scripts/install-deps.sh installs them)";
    VirtualDisplay display;
    ASSERT_TRUE(display.start()) << "Xvfb did not start";
    QProcessEnvironment env = environmentWithoutDisplay();
    env.insert("DISPLAY", display.name());

    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QUILLET_APP_EXECUTABLE, {});
    ASSERT_TRUE(program.waitForStarted(10000));

    QString window;
    if (!runTool(env, xdotool, {"search", "--sync", "--onlyvisible", "--name", "^Quillet$"}, &window)) {
        program.kill();
        program.waitForFinished();
        FAIL() << "no visible window titled Quillet appeared; program said: "
               << program.readAllStandardError().toStdString();
    }
    window = window.section('\n', 0, 0);
    QString geometry;
    ASSERT_TRUE(runTool(env, xdotool, {"getwindowgeometry", window}, &geometry));
    EXPECT_TRUE(geometry.contains("Geometry: 486x")) << geometry.toStdString();

    // Into the picture, which answers no click, then the quit shortcut.
    ASSERT_TRUE(runTool(env, xdotool, {"mousemove", "--window", window, "60", "80", "click", "1"}, nullptr));
    ASSERT_TRUE(runTool(env, xdotool, {"key", "ctrl+q"}, nullptr));
    if (!program.waitForFinished(20000)) {
        program.kill();
        program.waitForFinished();
        FAIL() << "the program did not quit on Ctrl+Q";
    }
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
}

// Whether the process has its own handler for the signal yet.
bool catches(qint64 pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

TEST(ProgramProcess, EndsAsQuitDoesWhenTheSystemAsksItTo) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        QProcessEnvironment env = environmentWithoutDisplay();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QUILLET_APP_EXECUTABLE, {});
        ASSERT_TRUE(program.waitForStarted(10000));
        for (int wait = 0; wait < 2000 && !catches(program.processId(), signal); ++wait)
            QThread::msleep(10);
        ASSERT_TRUE(catches(program.processId(), signal)) << signal;
        ::kill(static_cast<pid_t>(program.processId()), signal);
        if (!program.waitForFinished(20000)) {
            program.kill();
            program.waitForFinished();
            FAIL() << "the program did not end on signal " << signal;
        }
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    }
}

TEST(ProgramProcess, WithoutADisplaySaysSoInOneLine) {
    // No display at all, and a display that names no running server.
    QProcessEnvironment noServer = environmentWithoutDisplay();
    noServer.insert("DISPLAY", ":4093");
    for (const QProcessEnvironment& env : {environmentWithoutDisplay(), noServer}) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QUILLET_APP_EXECUTABLE, {});
        ASSERT_TRUE(program.waitForFinished(20000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);  // no crash, no core dump
        EXPECT_NE(program.exitCode(), 0);
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        EXPECT_TRUE(err.count('\n') == 1 && err.startsWith("Quillet: ") && err.contains("display")) << err.toStdString();
    }
}

}  // namespace
