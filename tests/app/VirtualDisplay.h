#pragma once
// A virtual X display of its own (Xvfb) for as long as the object lives: for tests and
// benchmarks that show the real window on an X server without a screen.
#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace quillet::testing {

class VirtualDisplay {
public:
    bool start() {
        server_.setProgram(QStandardPaths::findExecutable("Xvfb"));
        // -displayfd 1: the server chooses a free display and writes its number to stdout.
        server_.setArguments({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        server_.start();
        if (!server_.waitForStarted(5000))
            return false;
        QByteArray number;
        while (!number.contains('\n')) {
            if (!server_.waitForReadyRead(10000))
                return false;
            number += server_.readAllStandardOutput();
        }
        name_ = ":" + QString::fromLatin1(number.trimmed());
        return true;
    }
    ~VirtualDisplay() {
        if (server_.state() != QProcess::NotRunning) {
            server_.terminate();
            if (!server_.waitForFinished(5000)) {
                server_.kill();
                server_.waitForFinished();
            }
        }
    }
    const QString& name() const { return name_; }

private:
    QProcess server_;
    QString name_;
};

}  // namespace quillet::testing
