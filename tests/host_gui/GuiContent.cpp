#include "GuiContent.h"

#include <QPainter>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace calmora::testing {
namespace {

namespace fs = std::filesystem;

std::string Shell(const std::string& command) {
    const int rc = std::system((command + " >/dev/null 2>&1").c_str());
    return rc == 0 ? std::string() : "failed: " + command;
}

std::string Number(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

bool WritePhoto(const fs::path& file, const QColor& fill, const QColor& square) {
    QImage image(kPhotoSize, QImage::Format_RGB32);
    image.fill(fill);
    QPainter painter(&image);
    painter.fillRect(QRect(kPhotoSquareCentre - QPoint(40, 30), QSize(80, 60)), square);
    painter.end();
    return image.save(QString::fromStdString(file.string()), "PNG");
}

}  // namespace

const std::array<Quadrant, 4>& VideoQuadrants() {
    static const std::array<Quadrant, 4> quadrants = {{{{88, 72}, QColor(255, 0, 0)},
                                                       {{264, 72}, QColor(0, 255, 0)},
                                                       {{88, 216}, QColor(0, 0, 255)},
                                                       {{264, 216}, QColor(255, 255, 0)}}};
    return quadrants;
}

bool Near(QRgb pixel, const QColor& colour, int tolerance) {
    return std::abs(qRed(pixel) - colour.red()) <= tolerance && std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

bool ShowsQuadrants(const QImage& picture1, int tolerance) {
    for (const auto& q : VideoQuadrants())
        if (!picture1.valid(q.centre) || !Near(picture1.pixel(q.centre), q.colour, tolerance)) return false;
    return true;
}

std::string MakeGuiContent(const fs::path& resources, const ContentOptions& options) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) return "ffmpeg is not installed";
    fs::create_directories(resources / "video");
    fs::create_directories(resources / "sound" / "mp2");
    const std::string ff = "ffmpeg -nostdin -hide_banner -loglevel error -y ";
    // Quadrants in RGB, coded as MPEG-1 at the control's size and rate.
    const std::string video = (resources / "video" / "quadrants.mpg").string();
    if (auto e = Shell(ff + "-f lavfi -i \"nullsrc=s=352x288:r=25:d=" + Number(options.videoSeconds) +
                       ",format=gbrp,geq=r='if(lt(X,176),if(lt(Y,144),255,0),if(lt(Y,144),0,255))'"
                       ":g='if(lt(X,176),0,255)':b='if(lt(X,176),if(lt(Y,144),0,255),0)'\""
                       " -an -c:v mpeg1video -q:v 2 -pix_fmt yuv420p -f mpeg '" + video + "'");
        !e.empty())
        return e;
    for (const char* sound : {"tone_a", "tone_b"}) {
        const std::string file = (resources / "sound" / "mp2" / (std::string(sound) + ".mp2")).string();
        if (auto e = Shell(ff + "-f lavfi -i \"sine=frequency=" + (sound[5] == 'a' ? "440" : "660") +
                           ":duration=" + Number(options.soundSeconds) +
                           "\" -ar 44100 -ac 1 -c:a mp2 -b:a 64k -f mp2 '" + file + "'");
            !e.empty())
            return e;
    }
    if (!WritePhoto(resources / "video" / "sunset1.png", kPhotoColour, kPhotoSquareColour) ||
        !WritePhoto(resources / "video" / "sunset2.png", QColor(120, 40, 160), QColor(255, 255, 255)))
        return "cannot write the photos";

    using nlohmann::json;
    auto cue = [](const char* sound, int start) {
        return json{{"Filename", sound}, {"Action", std::string("Listen to ") + sound}, {"StartPos", start},
                    {"EndPos", start + 10}, {"Filelen", 1}};
    };
    json manifest = {{"asanas",
                      {{{"name", kVideoAsana},
                        {"AsanaID", 1},
                        {"Disp_Type", "Video"},
                        {"VideoName", "quadrants.mpg"},
                        {"cues", {cue("tone_a", 0), cue("tone_b", options.secondCueFrame)}}},
                       {{"name", kPhotoAsana},
                        {"AsanaID", 2},
                        {"Disp_Type", "Photo"},
                        {"VideoName", ""},
                        {"photos",
                         {{{"Mp2name", "tone_a"}, {"ImageName", "sunset1.png"}},
                          {{"Mp2name", "tone_b"}, {"ImageName", "sunset2.png"}}}}}}}};
    // Built by the catalogue program: linking the catalogue writer beside sync.ocx would put a second
    // copy of the catalogue layer's globals into the process.
    const fs::path manifestFile = resources / "manifest.json";
    std::ofstream(manifestFile) << manifest.dump(2);
    return Shell(std::string("'") + CALMORA_CATALOGUE_TOOL + "' build '" + manifestFile.string() + "' '" +
                 (resources / "video" / "REZozi.mdb").string() + "'");
}

}  // namespace calmora::testing
