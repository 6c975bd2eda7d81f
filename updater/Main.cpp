#include "Main.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace calmora::update {

namespace {

// Design colours are stored as 0x00BBGGRR.
QColor FromDesignColour(unsigned bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

constexpr unsigned kBackColour = 0x00FF8080;
constexpr unsigned kLabelTextColour = 0x00C0FFFF;

// Three 32 by 32 images: normal, active and disabled.
QIcon FormIcon()
{
    QIcon icon;
    const std::pair<QIcon::Mode, QColor> images[] = {
        {QIcon::Normal, FromDesignColour(kBackColour)},
        {QIcon::Active, FromDesignColour(kLabelTextColour)},
        {QIcon::Disabled, QColor(Qt::gray)},
    };
    for (const auto& [mode, colour] : images) {
        QPixmap image(32, 32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(colour);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(2, 2, 28, 28);
        painter.end();
        icon.addPixmap(image, mode);
    }
    return icon;
}

}  // namespace

Main::Main(QWidget* parent) : QWidget(parent), Label1(new QLabel(QStringLiteral("Updating.... Calmora"), this))
{
    setWindowTitle(QStringLiteral("Form1"));
    setWindowIcon(FormIcon());
    QPalette formPalette = palette();
    formPalette.setColor(QPalette::Window, FromDesignColour(kBackColour));
    setPalette(formPalette);
    setAutoFillBackground(true);
    resize(TwipsToPixels(4695), TwipsToPixels(840));

    Label1->setGeometry(TwipsToPixels(480), TwipsToPixels(240), TwipsToPixels(3735), TwipsToPixels(375));
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(11.25);
    font.setWeight(QFont::Bold);
    Label1->setFont(font);
    QPalette labelPalette = Label1->palette();
    labelPalette.setColor(QPalette::WindowText, FromDesignColour(kLabelTextColour));
    labelPalette.setColor(QPalette::Window, FromDesignColour(kBackColour));
    Label1->setPalette(labelPalette);
    Label1->setAutoFillBackground(true);
}

}  // namespace calmora::update
