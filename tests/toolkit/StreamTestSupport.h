#pragma once
// The temporary folder, file helpers and error capture shared by the stream tests.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit/Exceptions.h"
#include "toolkit/TextStreams.h"

namespace fs = std::filesystem;

inline constexpr uid_t kNobody = 65534;  // nobody and nogroup on Debian
inline constexpr gid_t kNogroup = 65534;

// Runs `f` in a child process as the user nobody, and gives its exit status; -1 when the
// child could not become nobody.
inline int AsNobody(const std::function<int()>& f) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0) ::_exit(255);
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

inline void WriteWhole(const fs::path& path, const std::string& text) {
    auto stream = tk::TextOutputStream::Create(path);
    stream->Write(text);
    stream->Close();
}

class TextStreamTest : public ::testing::Test {
protected:
    fs::path Dir() const { return fs::path(dir_.path().toStdString()); }

    fs::path WriteBytes(const std::string& name, const std::string& bytes) const {
        const fs::path path = Dir() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static std::string ReadBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    // Every line of the file, reading until Eof() as the import does.
    std::vector<std::string> Lines(const std::string& bytes) const {
        auto stream = tk::TextInputStream::Open(WriteBytes("in.txt", bytes));
        EXPECT_NE(stream, nullptr);
        std::vector<std::string> lines;
        if (!stream) return lines;
        while (!stream->Eof()) lines.push_back(stream->ReadLine());
        EXPECT_EQ(stream->ReadLine(), "");  // reading past the end gives nothing
        stream->Close();
        return lines;
    }

    // The text of the IOException that `f` raises.
    static std::string IOErrorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const tk::IOException& e) {
            return e.what();
        }
        return "(no IOException)";
    }

    std::size_t FileCount() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()));
    }

    QTemporaryDir dir_;
};

