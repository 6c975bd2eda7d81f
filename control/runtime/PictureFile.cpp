#include "runtime/PictureFile.h"

#include "common/ErrorNumbers.h"
#include "common/PathResolver.h"

#include <QImageReader>
#include <QString>

#include <sys/stat.h>

namespace calmora::runtime {

LoadedPicture LoadPictureFile(std::string_view file) {
    if (file.empty()) return {};
    LoadedPicture out;
    out.path = ResolvePath(file);
    struct stat st;
    if (::stat(out.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        err::Raise(err::FileNotFound, "File not found: " + out.path);
    QImageReader reader(QString::fromStdString(out.path));
    reader.setDecideFormatFromContent(true);
    if (!reader.read(&out.image) || out.image.isNull())
        err::Raise(err::InvalidPicture, "Invalid picture: " + out.path);
    return out;
}

}  // namespace calmora::runtime
