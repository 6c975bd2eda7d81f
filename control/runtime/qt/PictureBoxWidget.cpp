#include "runtime/qt/PictureBoxWidget.h"

#include <QPaintEvent>
#include <QPainter>

#include <utility>

namespace calmora::runtime {

PictureBoxWidget::PictureBoxWidget(QWidget* surface, const QString& name, const QRect& where) : QWidget(surface) {
    setObjectName(name);
    setGeometry(where);
    setBackgroundRole(QPalette::Window);
    setForegroundRole(QPalette::WindowText);
    // Its own X window, so a video sink can draw into it; the ancestors (the host's layout) stay
    // alien widgets.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    // paintEvent covers every pixel; no background fill beforehand that could flash over a video
    // frame on an expose.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void PictureBoxWidget::setPicture(QImage image) {
    if (!image.isNull() && image.format() != QImage::Format_ARGB32_Premultiplied &&
        image.format() != QImage::Format_RGB32)
        image = image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                        : image.convertToFormat(QImage::Format_RGB32);
    image_ = std::move(image);
    if (isVisible())
        repaint();
    else
        update();
}

void PictureBoxWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.fillRect(rect(), palette().color(QPalette::Window));
    // Unscaled at the top-left corner; what does not fit is clipped, as the original box showed it.
    if (!image_.isNull()) painter.drawImage(0, 0, image_);
}

}  // namespace calmora::runtime
