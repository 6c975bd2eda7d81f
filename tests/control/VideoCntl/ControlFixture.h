// A control on the headless runtime's virtual clock, playing simulated media from a catalogue built in
// a temporary resource folder. Everything the control does is recorded as trace lines:
//   "<ms> mci <command>", "<ms> fail <command>", "<ms> msgbox <text>", "<ms> picture <file>",
//   "<ms> event VideoEnd".
#pragma once

#include "VideoCntl/VideoCntl.h"
#include "catalogue/Dao.h"
#include "runtime/headless/HeadlessRuntime.h"
#include "tools/catalogue/CatalogueBuilder.h"

#include <calmora/sync.h>

#include <QColor>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace calmora::testing {

namespace fs = std::filesystem;
using nlohmann::json;

class TestSite : public ContainerSite, public TraceSink {
public:
    HeadlessRuntime* runtime = nullptr;
    std::string engine;
    std::vector<std::string> log;
    std::vector<std::string> changed;  // property names, as notified
    int videoEnds = 0;
    std::function<void()> onVideoEnd;

    void PropertyChanged(std::string_view name) override { changed.emplace_back(name); }
    void RaiseEvent(int dispid, std::string_view name) override {
        EXPECT_EQ(dispid, dispid::VideoEnd);
        Add("event " + std::string(name));
        ++videoEnds;
        if (onVideoEnd) onVideoEnd();
    }
    Forms& Runtime() override { return *runtime; }
    std::string MediaEngine() override { return engine; }
    TraceSink* Trace() override { return this; }

    void MediaCommand(std::string_view c) override { Add("mci " + std::string(c)); }
    void MediaFailure(std::string_view c, std::string_view) override { Add("fail " + std::string(c)); }
    void MessageBox(std::string_view p) override { Add("msgbox " + std::string(p)); }
    void Picture(std::string_view f) override { Add("picture " + std::string(f)); }
    void PictureFailure(std::string_view f, std::string_view) override { Add("fail picture " + std::string(f)); }

    void Add(std::string line) { log.push_back(std::to_string(runtime->clock().nowMs()) + " " + line); }
};

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        root = fs::temp_directory_path() /
               ("calmora-ctl-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        fs::remove_all(root);
        fs::create_directories(root / "res" / "video");
        fs::create_directories(root / "res" / "sound" / "mp2");
        fs::create_directories(root / "ocx");
        res = (root / "res").string();
        runtime = CreateHeadlessRuntime(HeadlessRuntime::ClockKind::Virtual);
        runtime->SetAppPath((root / "ocx").string());
        site.runtime = runtime.get();
        site.engine = "sim:" + (root / "scenario.json").string();
        scenario = json{{"files", json::object()}};
    }
    void TearDown() override {
        control.reset();
        fs::remove_all(root);
    }

    // Content. Sounds and videos live only in the scenario; photos are real files.
    void Sound(const std::string& base, int ms) { scenario["files"]["sound/mp2/" + base + ".mp2"] = {{"duration_ms", ms}}; }
    void Video(const std::string& file, int frames, int fps = 25) {
        scenario["files"]["video/" + file] = {{"frames", frames}, {"fps", fps}};
    }
    void Photo(const std::string& file, QColor colour = QColor(40, 120, 200)) {
        QImage img(16, 12, QImage::Format_RGB32);
        img.fill(colour);
        ASSERT_TRUE(img.save(QString::fromStdString((root / "res" / "video" / file).string()), "PNG"));
    }
    void MtSound(int ms) { scenario["files"][(root / "ocx" / "mt.mp2").string()] = {{"duration_ms", ms}}; }

    static json Cue(const std::string& sound, json start, json action = "Say", json end = 0, json len = 1.5) {
        return json{{"Filename", sound}, {"Action", action}, {"StartPos", start}, {"EndPos", end}, {"Filelen", len}};
    }
    static json PhotoRow(const std::string& sound, const std::string& image) {
        return json{{"Mp2name", sound}, {"ImageName", image}};
    }
    // A braced list of one row is an object to some compilers: make it the list it means.
    static json Rows(json rows) { return rows.is_object() ? json::array({std::move(rows)}) : rows; }
    json& VideoAsana(const std::string& name, int id, const std::string& video, json cues,
                     const std::string& disp = "Video") {
        cues = Rows(std::move(cues));
        manifest["asanas"].push_back(
            json{{"name", name}, {"AsanaID", id}, {"Disp_Type", disp}, {"VideoName", video}, {"cues", std::move(cues)}});
        return manifest["asanas"].back();
    }
    json& PhotoAsana(const std::string& name, int id, json photos, const std::string& disp = "Photo") {
        photos = Rows(std::move(photos));
        manifest["asanas"].push_back(
            json{{"name", name}, {"AsanaID", id}, {"Disp_Type", disp}, {"VideoName", nullptr}, {"photos", std::move(photos)}});
        return manifest["asanas"].back();
    }

    // Writes catalogue and scenario, then places the control (a new instance, InitNew).
    void Place() {
        if (!manifest.contains("asanas")) manifest["asanas"] = json::array();
        catalogue::BuildCatalogue(manifest.dump(), (root / "res" / "video" / "REZozi.mdb").string());
        std::ofstream(root / "scenario.json") << scenario.dump(2);
        control = std::make_unique<VideoCntl>(site);
        control->InitNew();
        control->put_Resourcedir(res);
    }

    void Open(const std::string& name) {
        control->put_AsanaNaME(name);
        control->fileOpen();
    }

    // Media commands sent, in order, without times; a run of one command repeated is written once
    // with "(xN)".
    std::vector<std::string> Commands(std::int64_t fromMs = -1) const {
        std::vector<std::string> out;
        for (const auto& line : site.log) {
            auto sp = line.find(' ');
            if (std::stoll(line.substr(0, sp)) < fromMs) continue;
            std::string rest = line.substr(sp + 1);
            if (rest.rfind("mci ", 0) != 0) continue;
            rest = rest.substr(4);
            if (!out.empty()) {
                std::string& last = out.back();
                auto base = last.substr(0, last.find(" (x"));
                if (base == rest) {
                    int n = last.find(" (x") == std::string::npos ? 1 : std::stoi(last.substr(last.find(" (x") + 3));
                    last = base + " (x" + std::to_string(n + 1) + ")";
                    continue;
                }
            }
            out.push_back(rest);
        }
        return out;
    }
    // Trace lines of one kind ("event", "msgbox", "picture", "fail", "mci"), with times.
    std::vector<std::string> Lines(const std::string& kind) const {
        std::vector<std::string> out;
        for (const auto& line : site.log) {
            auto rest = line.substr(line.find(' ') + 1);
            if (rest.rfind(kind + " ", 0) == 0) out.push_back(line);
        }
        return out;
    }
    std::string V(const std::string& file) const { return res + "\\video\\" + file; }
    std::string S(const std::string& base) const { return res + "\\sound\\mp2\\" + base + ".mp2"; }
    std::string OpenVideo(const std::string& file) const {
        return "open " + V(file) + "  alias video type mpegVideo  style child parent  0";
    }
    std::string OpenSound(const std::string& base) const { return "open " + S(base) + " alias Sound type mpegVideo"; }
    std::int64_t Now() const { return runtime->clock().nowMs(); }
    const std::vector<runtime::MessageBoxRecord>& Boxes() { return runtime::MessageBoxes(*runtime); }

    fs::path root;
    std::string res;
    json manifest;
    json scenario;
    std::unique_ptr<HeadlessRuntime> runtime;
    TestSite site;
    std::unique_ptr<VideoCntl> control;
};

}  // namespace calmora::testing
