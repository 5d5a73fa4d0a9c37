#include "toolkit/Picture.h"

#include <QFile>
#include <QImageReader>

namespace tk {

Ref<Picture> Picture::Open(const std::filesystem::path& path) {
    QImageReader reader(QFile::decodeName(QByteArray::fromStdString(path.native())));
    // Orientation tags are honoured so a photo shows the way it was taken.
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) return nullptr;
    return std::make_shared<Picture>(std::move(image));
}

}  // namespace tk
