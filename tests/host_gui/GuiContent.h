// A small resource folder for the window's tests and bench, generated on the machine: a video asana
// whose MPEG-1 video shows four coloured quadrants (easy to recognise on screen, also after lossy
// coding) and a photo asana of two PNG photos smaller than Picture1, each with its MP2 sound.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>

#include <array>
#include <filesystem>
#include <string>

namespace calmora::testing {

inline constexpr const char* kVideoAsana = "Quadrants";
inline constexpr const char* kPhotoAsana = "Sunset";

// The video's quadrants: top-left red, top-right green, bottom-left blue, bottom-right yellow.
struct Quadrant {
    QPoint centre;  // in Picture1
    QColor colour;
};
const std::array<Quadrant, 4>& VideoQuadrants();

// The first photo: orange, with a cyan square in its middle, drawn unscaled at Picture1's top-left.
inline constexpr QSize kPhotoSize{240, 160};
inline const QColor kPhotoColour{255, 128, 0};
inline const QColor kPhotoSquareColour{0, 200, 255};
inline constexpr QPoint kPhotoSquareCentre{120, 80};

struct ContentOptions {
    double videoSeconds = 2;
    double soundSeconds = 0.6;  // each cue's and each photo's sound
    int secondCueFrame = 10;    // where the video waits for the first sound to end
};

// Writes the folder (video/, sound/mp2/, video/REZozi.mdb). Returns "" when done, otherwise why not
// (ffmpeg missing, ffmpeg or the catalogue program failing).
std::string MakeGuiContent(const std::filesystem::path& resources, const ContentOptions& options = {});

// Whether a picture of Picture1 (352 by 288) shows the video's quadrants.
bool ShowsQuadrants(const QImage& picture1, int tolerance = 70);
bool Near(QRgb pixel, const QColor& colour, int tolerance);

}  // namespace calmora::testing
