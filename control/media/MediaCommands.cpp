#include "media/MediaCommands.h"

#include "media/Engine.h"
#include "media/Interpreter.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <set>

namespace calmora::media {
namespace {

// Commands may carry catalogue text of any length; a box or a log line shows the start of it.
std::string Shown(std::string_view command) {
    constexpr std::size_t kMaxShown = 200;
    if (command.size() <= kMaxShown) return std::string(command);
    std::size_t cut = kMaxShown;
    while (cut > 0 && (static_cast<unsigned char>(command[cut]) & 0xC0) == 0x80) --cut;
    return std::string(command.substr(0, cut)) + "...";
}

std::string ReportText(std::string_view command, std::string_view reason) {
    return "The media command \"" + Shown(command) + "\" failed.\n\n" + std::string(reason);
}

void ToStandardError(std::string_view command, std::string_view reason, std::string_view why) {
    const std::string line =
        "calmora media: \"" + Shown(command) + "\" failed: " + std::string(reason) + " (" + std::string(why) + ")\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

enum class EngineKind { Simulated, GStreamer };

}  // namespace

struct MediaCommands::Impl {
    Impl(Forms& f, Observer* o) : forms(f), observer(o) {}

    Forms& forms;
    Observer* observer;
    EngineKind kind = EngineKind::Simulated;
    std::string scenario;  // "sim:<scenario.json>"
    std::unique_ptr<Engine> engine;
    std::unique_ptr<Interpreter> interpreter;  // its devices close before the engine goes
    bool reportShowing = false;
    std::set<std::string, std::less<>> reported;  // failing command texts shown since "close all"

    Interpreter& Bind() {
        if (!interpreter) {
            if (!engine)
                engine = kind == EngineKind::GStreamer ? MakeGStreamerEngine() : MakeSimulatedEngine(forms.clock(), scenario);
            interpreter = std::make_unique<Interpreter>(*engine);
        }
        return *interpreter;
    }

    // Runs a command; returns 0 or the error number, with the reason when asked for.
    int Run(std::string_view command, Reply& reply, std::string* reason) {
        Interpreter* interpreter = nullptr;
        try {
            interpreter = &Bind();
        } catch (const std::exception&) {
            return Interpreter::CaughtError(reason, "The media engine could not be started: ");
        }
        Verb verb = Verb::Open;
        const int error = interpreter->TryRun(command, reply, &verb, reason);
        if (error == 0 && verb == Verb::CloseAll) reported.clear();
        return error;
    }

    void Report(std::string_view command, const std::string& reason) {
        if (observer) observer->Failure(command, reason);
        // The box runs pending events: a failure arriving meanwhile would stack a second box, and a
        // 1 ms timer repeating one failing command would chain boxes without end.
        if (reportShowing) {
            ToStandardError(command, reason, "not shown: another media report is showing");
            return;
        }
        if (reported.find(command) != reported.end()) {
            ToStandardError(command, reason, "shown once already; not shown again until \"close all\"");
            return;
        }
        reported.emplace(command);
        reportShowing = true;
        struct Showing {
            bool& flag;
            ~Showing() { flag = false; }
        } showing{reportShowing};
        forms.MsgBox(ReportText(command, reason), kReportTitle);
    }
};

MediaCommands::MediaCommands(Forms& forms, std::string engineSpec, Observer* observer)
    : impl_(std::make_shared<Impl>(forms, observer)) {
    if (engineSpec == "gstreamer") {
        impl_->kind = EngineKind::GStreamer;
    } else if (engineSpec == "sim") {
        impl_->kind = EngineKind::Simulated;
    } else if (engineSpec.rfind("sim:", 0) == 0) {
        impl_->kind = EngineKind::Simulated;
        impl_->scenario = engineSpec.substr(4);
    } else {
        throw MediaError(mcierr::DeviceFailure,
                         "Unknown media engine \"" + engineSpec + "\"; choose gstreamer, sim or sim:<scenario.json>.");
    }
}

MediaCommands::MediaCommands(Forms& forms, std::unique_ptr<Engine> engine, Observer* observer)
    : impl_(std::make_shared<Impl>(forms, observer)) {
    impl_->engine = std::move(engine);
}

MediaCommands::~MediaCommands() {
    // Devices close now even when a report of ours is still showing (it keeps the rest alive).
    if (impl_) impl_->interpreter.reset();
}

bool MediaCommands::Execute(std::string_view command) {
    Impl& m = *impl_;
    if (m.observer) m.observer->Command(command);
    Reply reply;
    std::string reason;
    if (m.Run(command, reply, &reason) == 0) return true;
    // Held across the modal report, which may destroy this object (see ~MediaCommands).
    const std::shared_ptr<Impl> keep = impl_;
    keep->Report(command, reason);
    return false;
}

int MediaCommands::SendString(std::string_view command, std::string& reply, int replyLength,
                              std::intptr_t /*callbackWindow: no notification is ever sent*/) {
    Impl& m = *impl_;
    Reply answer;
    if (const int error = m.Run(command, answer, nullptr); error != 0) {
        if (m.observer) m.observer->Query(command, {}, false);
        return error;
    }
    // Reply and NUL into the first replyLength characters; a reply too long for them is cut.
    const std::size_t capacity = std::min(static_cast<std::size_t>(std::max(replyLength, 0)), reply.size());
    std::string_view written;
    if (capacity > 0) {
        written = answer.view().substr(0, capacity - 1);
        std::copy(written.begin(), written.end(), reply.begin());
        reply[written.size()] = '\0';
    }
    if (m.observer) m.observer->Query(command, written, true);
    return 0;
}

}  // namespace calmora::media
