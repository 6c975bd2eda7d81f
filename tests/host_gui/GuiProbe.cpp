#include "GuiProbe.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace calmora::testing {

QWidget* FindWidget(const QString& objectName) {
    for (QWidget* w : QApplication::allWidgets())
        if (w->objectName() == objectName && w->isVisible()) return w;
    return nullptr;
}

QString StatusLine() {
    auto* label = qobject_cast<QLabel*>(FindWidget(QStringLiteral("status")));
    return label ? label->text() : QString();
}

QImage GrabScreen(const QRect& global) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    // Window 0 is the root: the grab shows what is on screen, other clients' drawing included.
    return screen->grabWindow(0, global.x(), global.y(), global.width(), global.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QImage GrabScreen(const QWidget& widget) {
    if (widget.isWindow()) return GrabScreen(widget.frameGeometry());
    return GrabScreen(QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size()));
}

}  // namespace calmora::testing
