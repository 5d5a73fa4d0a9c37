#include "toolkit/Picture.h"

#include <QImageReader>

#include "QtText.h"

namespace tk {

Ref<Picture> Picture::Open(const std::filesystem::path& path) {
    if (path.native().find('\0') != std::string::npos) return nullptr;  // no file has such a name
    QImageReader reader(detail::PathToQt(path));
    // Orientation tags are honoured so a photo shows the way it was taken.
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) return nullptr;
    return std::make_shared<Picture>(std::move(image));
}

}  // namespace tk
