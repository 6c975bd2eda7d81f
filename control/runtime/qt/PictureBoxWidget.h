// The picture box of the Qt runtime: a native child window (its X11 id is what the video engine
// draws into) that shows a picture unscaled at its top-left corner over the window background colour.
//
// A video belongs in a child X window that the engine creates inside this one and destroys when the
// video closes: X never lets Qt's painting of the box cover a child, so a frame held at a cue stays
// on screen through repaints and resizes, and the box's picture shows again once the child is gone.
// Drawing straight into this window works while frames keep coming, but any repaint of the box
// (a resize of the host window, a new picture) covers a held frame, and the sink leaves it black
// when it stops.
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
