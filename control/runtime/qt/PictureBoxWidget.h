// The picture box of the Qt runtime: a native child window (its X11 id is what the video engine
// draws into) that shows a picture unscaled at its top-left corner over the window background colour.
#pragma once

#include <QImage>
#include <QWidget>

namespace calmora::runtime {

class PictureBoxWidget final : public QWidget {
public:
    PictureBoxWidget(QWidget* surface, const QString& name, const QRect& where);

    // A null image is the empty picture: the box shows only its background. Painted at once, so the
    // box is cleared before a video is opened into it and a photo is on screen before its sound.
    void setPicture(QImage image);
    const QImage& picture() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

}  // namespace calmora::runtime
