#include "media/simulated/SimulatedEngine.h"

#include "common/Text.h"

#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <sstream>

namespace calmora::media {
namespace {

class SimulatedDevice : public Device {
public:
    SimulatedDevice(const Clock& clock, const MediaLength& length) : clock_(clock), length_(length) {}

    void Play() override {
        Update();
        if (mode_ == Mode::Playing || accruedMs_ >= length_.lengthMs) return;  // at the end: stays stopped
        mode_ = Mode::Playing;
        sinceMs_ = clock_.nowMs();
    }
    void Pause() override {
        Update();
        if (mode_ == Mode::Playing) mode_ = Mode::Paused;
    }
    Mode GetMode() override {
        Update();
        return mode_;
    }
    std::int64_t PositionMs() override {
        Update();
        return accruedMs_;
    }
    std::int64_t PositionFrames() override {
        if (!length_.HasVideo())
            throw MediaError(mcierr::Unsupported, "This media device plays a sound: it has no frames to count.");
        Update();
        const std::int64_t frames = accruedMs_ * length_.fpsNum / (1000 * length_.fpsDen);
        return std::min(frames, length_.frames);
    }

private:
    // Brings the accrued time up to the clock; the end of the media stops the device.
    void Update() {
        if (mode_ != Mode::Playing) return;
        const std::int64_t now = clock_.nowMs();
        accruedMs_ += std::max<std::int64_t>(0, now - sinceMs_);
        sinceMs_ = now;
        if (accruedMs_ >= length_.lengthMs) {
            accruedMs_ = length_.lengthMs;
            mode_ = Mode::Stopped;
        }
    }

    const Clock& clock_;
    const MediaLength length_;
    Mode mode_ = Mode::Stopped;
    std::int64_t accruedMs_ = 0;
    std::int64_t sinceMs_ = 0;
};

[[noreturn]] void Bad(std::string_view origin, const std::string& what) {
    throw MediaError(mcierr::DeviceFailure, std::string(origin) + ": " + what);
}

std::string NormalizeKey(std::string_view key) {
    std::string k(key);
    std::replace(k.begin(), k.end(), '\\', '/');
    while (k.rfind("./", 0) == 0) k.erase(0, 2);
    return k;
}

std::int64_t WholeNumber(const nlohmann::json& v, std::string_view origin, const std::string& key, const char* field) {
    if (v.is_number_integer() && v.get<std::int64_t>() >= 0) return v.get<std::int64_t>();
    if (v.is_number_float() && v.get<double>() >= 0 && v.get<double>() < 9e15 && std::floor(v.get<double>()) == v.get<double>())
        return static_cast<std::int64_t>(v.get<double>());
    Bad(origin, "\"" + std::string(field) + "\" of \"" + key + "\" must be a whole number of at least 0.");
}

MediaLength ParseEntry(const nlohmann::json& e, std::string_view origin, const std::string& key) {
    if (!e.is_object()) Bad(origin, "the entry \"" + key + "\" must be an object.");
    const bool hasDuration = e.contains("duration_ms");
    const bool hasFrames = e.contains("frames");
    const bool hasFps = e.contains("fps");
    if (hasDuration == hasFrames)
        Bad(origin, "the entry \"" + key + "\" must give either \"duration_ms\" or \"frames\" with \"fps\".");
    if (hasFrames && !hasFps) Bad(origin, "the entry \"" + key + "\" gives \"frames\" without \"fps\".");
    MediaLength m;
    if (hasFps) {
        const auto& f = e.at("fps");
        if (!f.is_number() || !(f.get<double>() > 0) || f.get<double>() > 1000)
            Bad(origin, "\"fps\" of \"" + key + "\" must be a number above 0 and at most 1000.");
        // Kept as a fraction in thousandths, so that 29.97 and 25 both count frames exactly.
        std::int64_t num = std::llround(f.get<double>() * 1000);
        std::int64_t den = 1000;
        if (num == 0) Bad(origin, "\"fps\" of \"" + key + "\" is too small.");
        const std::int64_t g = std::gcd(num, den);
        m.fpsNum = num / g;
        m.fpsDen = den / g;
    }
    if (hasDuration) {
        m.lengthMs = WholeNumber(e.at("duration_ms"), origin, key, "duration_ms");
        if (m.HasVideo()) m.frames = m.lengthMs * m.fpsNum / (1000 * m.fpsDen);
    } else {
        m.frames = WholeNumber(e.at("frames"), origin, key, "frames");
        if (m.frames > std::int64_t{1} << 40) Bad(origin, "\"frames\" of \"" + key + "\" is too large.");
        m.lengthMs = VideoLengthMs(m.frames, m.fpsNum, m.fpsDen);
    }
    return m;
}

// Letter case aside, does path end with key (relative) or equal it (absolute)?
bool KeyMatches(std::string_view path, std::string_view key, bool absolute) {
    if (absolute || path.size() == key.size()) return path.size() == key.size() && EqualsIgnoreCase(path, key);
    if (path.size() < key.size() + 1 || path[path.size() - key.size() - 1] != '/') return false;
    return EqualsIgnoreCase(path.substr(path.size() - key.size()), key);
}

}  // namespace

Scenario Scenario::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Bad("The media scenario \"" + path + "\"", "it cannot be read.");
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str(), "The media scenario \"" + path + "\"");
}

Scenario Scenario::Parse(std::string_view json, std::string_view origin) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(json);
    } catch (const nlohmann::json::exception& e) {
        Bad(origin, std::string("it is not valid JSON (") + e.what() + ").");
    }
    if (!doc.is_object() || !doc.contains("files") || !doc.at("files").is_object())
        Bad(origin, "it must be an object with an object \"files\".");
    Scenario s;
    for (const auto& [key, entry] : doc.at("files").items()) {
        if (NormalizeKey(key).empty()) Bad(origin, "a file key is empty.");
        s.Add(key, ParseEntry(entry, origin, key));
    }
    return s;
}

void Scenario::Add(std::string_view key, const MediaLength& length) {
    Entry e;
    e.key = NormalizeKey(key);
    e.absolute = !e.key.empty() && e.key.front() == '/';
    e.length = length;
    entries_.push_back(std::move(e));
}

const MediaLength* Scenario::Find(std::string_view path) const {
    const Entry* best = nullptr;
    bool bestExact = false;
    for (const Entry& e : entries_) {
        if (!KeyMatches(path, e.key, e.absolute)) continue;
        const bool exact = path.ends_with(e.key);
        if (!best || e.key.size() > best->key.size() || (e.key.size() == best->key.size() && exact && !bestExact)) {
            best = &e;
            bestExact = exact;
        }
    }
    return best ? &best->length : nullptr;
}

SimulatedEngine::SimulatedEngine(const Clock& clock, Scenario scenario) : clock_(clock), scenario_(std::move(scenario)) {}

std::unique_ptr<Device> SimulatedEngine::Open(const OpenParams& params) {
    if (const MediaLength* listed = scenario_.Find(params.path))
        return std::make_unique<SimulatedDevice>(clock_, *listed);

    struct stat st {};
    const bool present = ::stat(params.path.c_str(), &st) == 0;
    const std::int64_t mtimeNs = std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
    if (present) {
        auto it = measured_.find(params.path);
        if (it != measured_.end() && it->second.size == st.st_size && it->second.mtimeNs == mtimeNs)
            return std::make_unique<SimulatedDevice>(clock_, it->second.length);
    }
    const MediaLength length = MeasureMediaFile(params.path);  // throws for missing and foreign files
    if (present) measured_[params.path] = Measured{st.st_size, mtimeNs, length};
    return std::make_unique<SimulatedDevice>(clock_, length);
}

std::unique_ptr<Engine> MakeSimulatedEngine(const Clock& clock, const std::string& scenarioPath) {
    return std::make_unique<SimulatedEngine>(clock, scenarioPath.empty() ? Scenario{} : Scenario::Load(scenarioPath));
}

}  // namespace calmora::media
