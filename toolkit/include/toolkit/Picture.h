#pragma once
// A picture loaded from a file, for a canvas to paint. This header uses Qt and is for
// the toolkit and the application only.
#include <filesystem>

#include <QImage>

#include "toolkit/Object.h"

namespace tk {

class Picture : public Object {
public:
    explicit Picture(QImage image) : image_(std::move(image)) {}

    // The picture in the file, or nil when the file is missing, unreadable or not a
    // picture Qt can decode.
    static Ref<Picture> Open(const std::filesystem::path& path);

    int Width() const noexcept { return image_.width(); }
    int Height() const noexcept { return image_.height(); }
    const QImage& Image() const noexcept { return image_; }

private:
    QImage image_;
};

}  // namespace tk
