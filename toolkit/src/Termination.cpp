// What the program does when the system asks it to end: a logout (SIGHUP, SIGTERM), a
// closed terminal (SIGHUP) or Ctrl-C (SIGINT). The first request quits as File ▸ Quit
// does, from the event loop, so a conversion stops at its next turn and a transcript
// being written is abandoned: its temporary file goes and the old file keeps every byte.
// A second request, while the first is still being served, ends the process at once,
// removing the temporary files first.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "TemporaryFiles.h"
#include "toolkit/Runtime.h"

namespace tk {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

std::atomic<bool> gRequested{false};
int gWake[2] = {-1, -1};  // written by the handler, read by the event loop

struct TemporarySlot {
    std::atomic<int> folder{-1};  // -1: free; -2: being filled
    char name[32] = {};
};
std::array<TemporarySlot, 16> gTemporaries;

void RemoveTemporaries() noexcept {
    for (TemporarySlot& slot : gTemporaries) {
        const int folder = slot.folder.load();
        if (folder >= 0) ::unlinkat(folder, slot.name, 0);
    }
}

// Only async-signal-safe calls here.
extern "C" void OnTerminationSignal(int signal) {
    const int saved = errno;
    if (gRequested.exchange(true)) {
        RemoveTemporaries();
        ::signal(signal, SIG_DFL);
        ::raise(signal);
    }
    const char byte = static_cast<char>(signal);
    if (gWake[1] >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(gWake[1], &byte, 1);
    }
    errno = saved;
}

}  // namespace

namespace detail {

int RememberTemporaryFile(int folder, const char* name) noexcept {
    if (std::strlen(name) >= sizeof TemporarySlot::name) return -1;
    for (std::size_t i = 0; i < gTemporaries.size(); ++i) {
        int free = -1;
        if (gTemporaries[i].folder.compare_exchange_strong(free, -2)) {
            std::strcpy(gTemporaries[i].name, name);
            gTemporaries[i].folder.store(folder);  // published only once the name is whole
            return static_cast<int>(i);
        }
    }
    return -1;
}

void ForgetTemporaryFile(int slot) noexcept {
    if (slot >= 0 && slot < static_cast<int>(gTemporaries.size())) gTemporaries[slot].folder.store(-1);
}

}  // namespace detail

void RuntimeQuitOnTerminationSignals() {
    if (gWake[0] >= 0) return;
    if (::pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) {
        gWake[0] = gWake[1] = -1;
        return;  // the signals keep their default action: the program still ends
    }
    if (QCoreApplication* app = QCoreApplication::instance()) {
        auto* notifier = new QSocketNotifier(gWake[0], QSocketNotifier::Read, app);
        QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
            char bytes[16];
            while (::read(gWake[0], bytes, sizeof bytes) > 0) {
            }
            RuntimeQuit();
        });
    }
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals) sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        // A signal ignored when the program started (nohup, a background job) stays ignored.
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}

bool RuntimeTerminationRequested() noexcept { return gRequested.load(); }

void ClearTerminationRequestForTesting() noexcept { gRequested.store(false); }

}  // namespace tk
