// The updater's form. The run happens before the form would first be shown and ends by destroying it,
// so the user never sees it; it is built with its design all the same.
#pragma once

#include <QWidget>

class QLabel;

namespace calmora::update {

// Design units are twips; at the standard 96 dots per inch a pixel is 15 twips.
constexpr int TwipsToPixels(int twips) { return twips * 96 / 1440; }

class Main : public QWidget {
public:
    explicit Main(QWidget* parent = nullptr);

    QLabel* Label1;
};

}  // namespace calmora::update
