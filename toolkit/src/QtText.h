#pragma once
// Where the toolkit's texts cross into Qt and back. The runtime's texts are UTF-8
// std::strings and its paths are the bytes the file system holds; every .cpp that talks
// to Qt converts through these, so no file can pick another encoding by accident.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <filesystem>
#include <string>
#include <string_view>

namespace tk::detail {

inline QString ToQt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQt(const QString& text) { return text.toStdString(); }  // UTF-8

// File names go through the platform's file-name encoding, not UTF-8, so a name that is
// not valid UTF-8 still reaches the same file.
inline QString PathToQt(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

inline std::filesystem::path PathFromQt(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

}  // namespace tk::detail
