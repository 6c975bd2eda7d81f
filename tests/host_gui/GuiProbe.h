// Looking at the calmora window from inside its process: its widgets by object name, and what the X
// server really shows on screen (the video sink draws there, past Qt's own painting).
#pragma once

#include <QImage>
#include <QRect>
#include <QString>

class QWidget;

namespace calmora::testing {

// The visible widget with that object name ("Picture1", "status", "CalmoraWindow"), or null.
QWidget* FindWidget(const QString& objectName);
// The text of the window's status line, "" while there is no window.
QString StatusLine();
// The screen's pixels in a rectangle of global coordinates.
QImage GrabScreen(const QRect& global);
// The screen's pixels where the widget is (its frame for a top-level window).
QImage GrabScreen(const QWidget& widget);

}  // namespace calmora::testing
