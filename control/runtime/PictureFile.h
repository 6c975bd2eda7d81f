// Picture loading shared by the runtimes: a path as the control builds it, resolved like every other
// path, decoded with Qt's image readers so "not a picture" fails the same way with or without a screen.
#pragma once

#include <QImage>

#include <string>
#include <string_view>

namespace calmora::runtime {

struct LoadedPicture {
    std::string path;  // resolved path, "" for the empty picture
    QImage image;      // null for the empty picture
};

// "" gives the empty picture. Throws RuntimeError 53 (no such file, or a folder) or 481 (not a picture).
LoadedPicture LoadPictureFile(std::string_view file);

}  // namespace calmora::runtime
