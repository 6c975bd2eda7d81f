#include "VideoCntl/VideoCntl.h"

#include "VideoCntl/ResumeNext.h"
#include "VideoCntl/StatusReply.h"
#include "common/Conversions.h"
#include "common/ErrorNumbers.h"

#include <cstdio>

namespace calmora {
namespace {

constexpr int kReplyLength = 49;

// A decimal number after the conversion's sign position: a blank before a non-negative number.
std::string SignedText(std::int64_t n) { return (n >= 0 ? " " : "") + std::to_string(n); }

// The table stem's number: the id as decimal text, trimmed of blanks. A Null id adds nothing.
std::string IdText(const Variant& id) {
    Variant s = Str(id);
    return s.isNull() ? std::string() : Trim(CStr(s));
}

}  // namespace

VideoCntl::VideoCntl(ContainerSite& site)
    : site_(site), forms_(site.Runtime()), mci_(site.Runtime(), site.MediaEngine(), this) {
    // Design geometry: 5280 by 4320 twips at 15 twips per pixel; Picture2 is the bottom pixel row.
    Picture1 = forms_.CreatePictureBox("Picture1", {0, 0, 352, 288});
    Picture2 = forms_.CreatePictureBox("Picture2", {0, 287, 352, 1});
    Timer1 = forms_.CreateTimer("Timer1", 1, false, [this] { Timer1_Timer(); });
    Timer2 = forms_.CreateTimer("Timer2", 10, false, [this] { Timer2_Timer(); });
}

VideoCntl::~VideoCntl() = default;

// ---------------------------------------------------------------------------------------------------
// Properties and container notifications

std::string VideoCntl::get_Resourcedir() { return ResourcedirValue; }

void VideoCntl::put_Resourcedir(std::string value) {
    ResourcedirValue = std::move(value);
    site_.PropertyChanged("Resourcedir");
}

std::string VideoCntl::get_AsanaNaME() { return AsanaNameValue; }

void VideoCntl::put_AsanaNaME(std::string value) {
    AsanaNameValue = std::move(value);
    site_.PropertyChanged("AsanaNaME");
}

void VideoCntl::UserControl_InitProperties() {
    ResourcedirValue = "0";
    AsanaNameValue = "0";
}

void VideoCntl::UserControl_ReadProperties(PropertyBag& bag) {
    ResourcedirValue = CStr(bag.ReadProperty("Resourcedir", "0"));
    AsanaNameValue = CStr(bag.ReadProperty("AsanaNaME", "0"));
}

void VideoCntl::UserControl_WriteProperties(PropertyBag& bag) {
    bag.WriteProperty("Resourcedir", ResourcedirValue, "0");
    bag.WriteProperty("AsanaNaME", AsanaNameValue, "0");
}

// ---------------------------------------------------------------------------------------------------
// Opening an asana

void VideoCntl::fileOpen() {
    ++startCounter_;
    CloseAllMedia();
    const std::string catalogue = ResourcedirValue + kCatalogueFile;
    CuesDone = vbFalse;

    ResumeNext steps;
    const bool opened = steps([&] {
        AsanaDb = dao::DBEngine::Get().Workspaces(0).OpenDatabase(catalogue, true, true, kCatalogueConnect);
    });
    steps([&] { SetPicture1(""); });
    steps([&] { VideoPreview = vbFalse; });
    // Without this catalogue there is nothing to look the name up in: an older AsanaDb would answer
    // for another resource folder.
    if (!opened) return;

    // Whatever cannot be read from the asana's own row ends the call quietly: carrying on would play
    // the previous asana's video or rows under this name.
    if (!steps([&] { AsanaRs = Db().OpenRecordset("select * from Asanas where name = \"" + AsanaNameValue + "\""); }))
        return;
    const bool haveRow = steps([&] { Rs().MoveFirst(); });
    if (steps.lastError() == err::NoCurrentRecord) {
        MsgBox("Asana not found - " + AsanaNameValue);
        return;
    }
    if (!haveRow) return;
    Variant asanaId;
    Variant dispType;
    if (!steps([&] { asanaId = Rs().Fields("AsanaID"); })) return;
    if (!steps([&] { dispType = Rs().Fields("Disp_Type"); })) return;

    if (TextEquals(dispType, "Video")) {
        if (!steps([&] { VideoFile = CStr(Rs().Fields("VideoName")); })) return;
        steps([&] { AsanaRs = Db().OpenRecordset("select * from Audio_Asana" + IdText(asanaId)); });
        steps([&] { InitVideo(); });
    } else {
        PhotoPreview = vbFalse;
        steps([&] { AsanaRs = Db().OpenRecordset("select * from Photo_Asana" + IdText(asanaId)); });
        steps([&] { InitAudio(); });
    }
}

// ---------------------------------------------------------------------------------------------------
// Video asana

void VideoCntl::InitVideo() {
    mciExecute(VideoOpenCommand());
    mciExecute("set video time format frames");
    Rs().MoveFirst();
    VideoPreview = vbFalse;
    NoTrap direct;
    CopyCueRow(direct);
    const std::string soundOpen = SoundOpenCommand();
    VideoMode = vbTrue;
    mciExecute(soundOpen);
    mciExecute("play video");
    mciExecute("pause video");
    if (!YieldToHost()) return;
    mciExecute("play sound");
    mciExecute("play video");
    SoundState = "Playing";
    VideoState = "Playing";
    Timer1->SetEnabled(true);
    Rs().MoveNext();
    // A list of one cue has no look-ahead row: go straight to the last-cue state, so that the single
    // sound plays once and VideoEnd follows its end.
    if (Rs().Eof()) {
        EndOfCueList();
        return;
    }
    CopyCueRow(direct);
}

template <typename Steps>
void VideoCntl::CopyCueRow(Steps& steps) {
    steps([&] { SoundName = CStr(Rs().Fields("Filename")); });
    steps([&] { CueName = CStr(Rs().Fields("Action")); });
    steps([&] { CueStart = CInt(Rs().Fields("StartPos")); });
    steps([&] { CueEnd = CInt(Rs().Fields("EndPos")); });
    steps([&] { CueLen = CDbl(Rs().Fields("Filelen")); });
}

// Closes the recordset, then the database; each close is tried on its own, so an object already
// closed does not keep the other open.
void VideoCntl::CloseCatalogue() {
    ResumeNext closing;
    closing([&] { Rs().Close(); });
    closing([&] { Db().Close(); });
}

void VideoCntl::EndOfCueList() {
    CloseCatalogue();
    CueStart = -10;
    CuesDone = vbTrue;
    VideoState = "Pause";
}

void VideoCntl::Timer1_Timer() {
    ResumeNext steps;
    std::string reply(50, ' ');

    if (VideoPreview == vbTrue) {
        std::string mode;
        mciSendString("status video mode", reply);
        steps([&] { mode = ReplyMode(reply); });
        if (UCase(mode) == "STOPPED") {
            // Timer off before the event, as in the cue tick: a host that starts another preview from
            // its handler keeps the timer that preview enables.
            steps([&] { Timer1->SetEnabled(false); });
            RaiseVideoEnd();
        }
        return;
    }

    std::string mode;
    double position = 0;
    mciSendString("status sound mode", reply);
    steps([&] { mode = ReplyMode(reply); });
    mciSendString("status video Position", reply);
    steps([&] { position = ReplyPosition(reply); });

    if (position >= CueStart && CueStart >= 0) {
        VideoState = "Pause";
        mciExecute("pause video");
    }
    if (UCase(mode) == "STOPPED" && VideoState == "Pause") CueTransition(steps);
}

void VideoCntl::CueTransition(ResumeNext& steps) {
    mciExecute("close sound");
    SoundState = "Stopped";
    if (CuesDone == vbTrue) {
        steps([&] { Timer1->SetEnabled(false); });
        RaiseVideoEnd();
        return;
    }
    steps([&] { Timer1->SetEnabled(false); });
    // A test of the end that fails counts as finding a row.
    bool atEnd = false;
    steps([&] { atEnd = Rs().Eof(); });
    if (atEnd)
        EndOfCueList();
    else
        CopyCueRow(steps);
    mciExecute(SoundOpenCommand());
    steps([&] { Timer1->SetEnabled(true); });
    mciExecute("play sound");
    mciExecute("play video");
    SoundState = "Playing";
    VideoState = "Playing";
    atEnd = false;
    steps([&] { atEnd = Rs().Eof(); });
    if (atEnd) return;
    steps([&] { Rs().MoveNext(); });
    atEnd = false;
    steps([&] { atEnd = Rs().Eof(); });
    if (atEnd)
        EndOfCueList();
    else
        CopyCueRow(steps);
}

// ---------------------------------------------------------------------------------------------------
// Photo asana

void VideoCntl::InitAudio() {
    Rs().MoveFirst();
    VideoMode = vbFalse;
    SoundName = CStr(Rs().Fields("Mp2name"));
    CueName = CStr(Rs().Fields("ImageName"));
    SetPicture1(ResourcedirValue + "\\video\\" + CueName);
    if (!YieldToHost()) return;
    if (PhotoPreview == vbFalse) {
        Timer2->SetInterval(10);
        mciExecute(SoundOpenCommand());
        if (!YieldToHost()) return;
        mciExecute("play sound");
        SoundState = "Playing";
    }
    VideoState = "";
    Timer2->SetEnabled(true);
}

// The photo list is used up: no further cue, the catalogue closed, the asana over. Raising VideoEnd
// is the last thing a tick does, so the host may open the next asana from its handler.
void VideoCntl::EndOfPhotoList() {
    CueStart = -10;
    CuesDone = vbTrue;
    CloseCatalogue();
    RaiseVideoEnd();
}

// Rows already used up when a tick begins: the empty picture, no further cue, the catalogue closed.
void VideoCntl::ClearUsedUpList() {
    SetPicture1("");  // the empty picture cannot fail to load
    CueStart = -10;
    CloseCatalogue();
    CuesDone = vbTrue;
}

// Moves to the next photo row and shows it; at the end of the list ends the asana instead. False when
// the list has ended (the tick must do nothing more).
bool VideoCntl::NextPhoto() {
    Rs().MoveNext();
    if (Rs().Eof()) {
        EndOfPhotoList();
        return false;
    }
    ShowPhotoRow();
    return true;
}

void VideoCntl::ShowPhotoRow() {
    SoundName = CStr(Rs().Fields("Mp2name"));
    CueName = CStr(Rs().Fields("ImageName"));
    SetPicture1(ResourcedirValue + "\\video\\" + CueName);
}

void VideoCntl::Timer2_Timer() {
    if (PhotoPreview == vbTrue) {
        // Once the catalogue is closed there is nothing left to show: such a tick does nothing.
        bool atEnd = false;
        try {
            atEnd = Rs().Eof();
        } catch (const RuntimeError&) {
            return;
        }
        if (atEnd)
            ClearUsedUpList();
        else
            NextPhoto();
        return;
    }

    std::string reply(50, ' ');
    mciSendString("status sound mode", reply);
    std::string mode;
    try {
        mode = ReplyMode(reply);
    } catch (const RuntimeError&) {
        mode.clear();  // nothing but blanks: no mode
    }
    if (UCase(mode) != "STOPPED") return;
    mciExecute("close sound");
    SoundState = "Stopped";
    if (CuesDone == vbTrue) {
        Timer2->SetEnabled(false);
        RaiseVideoEnd();
        return;
    }
    Timer2->SetEnabled(false);
    if (Rs().Eof()) {
        ClearUsedUpList();
        // The last sound plays once more over the empty picture; its end then ends the asana.
        ResumeNext steps;
        steps([&] { mciExecute(SoundOpenCommand()); });
        steps([&] { Timer2->SetEnabled(true); });
        steps([&] { mciExecute("play sound"); });
        SoundState = "Playing";
        return;
    }
    if (!NextPhoto()) return;
    mciExecute(SoundOpenCommand());
    Timer2->SetEnabled(true);
    mciExecute("play sound");
    SoundState = "Playing";
}

// ---------------------------------------------------------------------------------------------------
// Playback commands

Variant VideoCntl::StopPlay() {
    ++startCounter_;
    ResumeNext steps;
    steps([&] { Timer1->SetEnabled(false); });
    steps([&] { Timer2->SetEnabled(false); });
    steps([&] { Db().Close(); });
    steps([&] { Rs().Close(); });
    steps([&] { mciExecute("close all"); });
    return {};
}

// During the last cue the word says "Pause" while the video runs on, so Pause and Start must pause and
// resume it themselves. A video held at a cue's frame (CuesDone False) stays the cue timer's to resume.
bool VideoCntl::LastCueVideoRunsOn() const {
    return VideoMode == vbTrue && CuesDone == vbTrue && VideoState == "Pause";
}

Variant VideoCntl::Pause() {
    Timer1->SetEnabled(false);
    Timer2->SetEnabled(false);
    if (SoundState == "Playing") {
        mciExecute("pause sound");
        SoundState = "Playing";
    }
    if (VideoState == "Playing") {
        mciExecute("pause video");
        VideoState = "Playing";
    } else if (LastCueVideoRunsOn()) {
        mciExecute("pause video");
    }
    return {};
}

Variant VideoCntl::Start() {
    if (SoundState == "Playing") {
        mciExecute("play sound");
        SoundState = "Playing";
    }
    if (VideoState == "Playing") {
        mciExecute("play video");
        VideoState = "Playing";
        Timer1->SetEnabled(true);
    } else if (LastCueVideoRunsOn()) {
        mciExecute("play video");  // paused by Pause above
    }
    if (VideoMode == vbTrue)
        Timer1->SetEnabled(true);
    else
        Timer2->SetEnabled(true);
    return {};
}

// ---------------------------------------------------------------------------------------------------
// Previews

Variant VideoCntl::Preview() {
    ++startCounter_;
    CloseAllMedia();
    const std::string catalogue = ResourcedirValue + kCatalogueFile;
    CuesDone = vbFalse;
    AsanaDb = dao::DBEngine::Get().Workspaces(0).OpenDatabase(catalogue, true, true, kCatalogueConnect);
    AsanaRs = Db().OpenRecordset("select * from Asanas where name = \"" + AsanaNameValue + "\"");
    Rs().MoveFirst();
    if (UCase(CStr(Rs().Fields("Disp_Type"))) == "PHOTO") {
        Ppreview();
        return {};
    }
    VideoFile = CStr(Rs().Fields("VideoName"));
    mciExecute(VideoOpenCommand());
    mciExecute("play video");
    // The status words describe what the preview plays, so Pause and Start act on this video and not
    // on the devices of whatever played before.
    VideoMode = vbTrue;
    VideoState = "Playing";
    SoundState = "Stopped";
    VideoPreview = vbTrue;
    Timer1->SetEnabled(true);
    return {};
}

Variant VideoCntl::Ppreview() {
    ++startCounter_;
    CloseAllMedia();
    PhotoPreview = vbTrue;
    Timer2->SetInterval(200);
    const std::string catalogue = ResourcedirValue + kCatalogueFile;
    CuesDone = vbFalse;
    AsanaDb = dao::DBEngine::Get().Workspaces(0).OpenDatabase(catalogue, true, true, kCatalogueConnect);
    AsanaRs = Db().OpenRecordset("select * from Asanas where name = \"" + AsanaNameValue + "\"");
    Rs().MoveFirst();
    const Variant asanaId = Rs().Fields("AsanaID");
    AsanaRs = Db().OpenRecordset("select * from Photo_Asana" + IdText(asanaId));
    SoundState = "Stopped";  // a silent show: Pause and Start must not touch an earlier sound
    const std::uint64_t started = startCounter_;
    InitAudio();
    if (started != startCounter_) return {};  // the host moved on while InitAudio yielded
    Timer2->SetEnabled(true);
    return {};
}

// ---------------------------------------------------------------------------------------------------
// Shared steps

std::string VideoCntl::VideoOpenCommand() const {
    return "open " + ResourcedirValue + "\\video\\" + VideoFile + "  alias video type mpegVideo  style child parent " +
           SignedText(Picture1->hWnd());
}

std::string VideoCntl::SoundOpenCommand() const {
    if (SoundName == "mt") return "open " + forms_.AppPath() + "\\" + SoundName + ".mp2 alias Sound type mpegVideo";
    return "open " + ResourcedirValue + "\\sound\\mp2\\" + SoundName + ".mp2 alias Sound type mpegVideo";
}

// "close all" ends every device of the asana before; its timers go with it, or their ticks would act on
// the next asana's fields (closing its sound, skipping its cues).
void VideoCntl::CloseAllMedia() {
    mciExecute("close all");
    Timer1->SetEnabled(false);
    Timer2->SetEnabled(false);
}

// Lets queued host calls and due ticks run; false when one of them started or stopped an asana, so
// the caller's start is out of date and must not go on.
bool VideoCntl::YieldToHost() {
    const std::uint64_t before = startCounter_;
    forms_.DoEvents();
    return before == startCounter_;
}

bool VideoCntl::mciExecute(std::string_view command) { return mci_.Execute(command); }

void VideoCntl::mciSendString(std::string_view command, std::string& reply) {
    mci_.SendString(command, reply, kReplyLength, 0);
}

void VideoCntl::SetPicture1(const std::string& file) {
    try {
        Picture1->SetPicture(file);
    } catch (const RuntimeError& e) {
        if (auto* t = site_.Trace()) t->PictureFailure(file, e.description());
        throw;
    }
    if (auto* t = site_.Trace()) t->Picture(file);
}

void VideoCntl::MsgBox(const std::string& prompt) {
    if (auto* t = site_.Trace()) t->MessageBox(prompt);
    forms_.MsgBox(prompt);
}

void VideoCntl::RaiseVideoEnd() { site_.RaiseEvent(dispid::VideoEnd, "VideoEnd"); }

dao::Recordset& VideoCntl::Rs() {
    if (!AsanaRs) err::Raise(err::ObjectNotSet);
    return *AsanaRs;
}

dao::Database& VideoCntl::Db() {
    if (!AsanaDb) err::Raise(err::ObjectNotSet);
    return *AsanaDb;
}

void VideoCntl::Command(std::string_view command) {
    if (auto* t = site_.Trace()) t->MediaCommand(command);
}
void VideoCntl::Failure(std::string_view command, std::string_view reason) {
    if (auto* t = site_.Trace()) t->MediaFailure(command, reason);
}
void VideoCntl::Query(std::string_view command, std::string_view reply, bool ok) {
    if (auto* t = site_.Trace()) t->MediaQuery(command, reply, ok);
}

// ---------------------------------------------------------------------------------------------------
// Late binding

Variant VideoCntl::Invoke(int id, InvokeKind kind, std::span<const Variant> args) {
    auto method = [&](auto&& call) -> Variant {
        if (kind != InvokeKind::Method) err::Raise(err::MemberNotFound);
        if (!args.empty()) err::Raise(err::WrongArgumentCount);
        return call();
    };
    auto property = [&](auto&& get, auto&& put) -> Variant {
        if (kind == InvokeKind::PropertyGet) {
            if (!args.empty()) err::Raise(err::WrongArgumentCount);
            return Variant(get());
        }
        if (kind == InvokeKind::PropertyPut) {
            if (args.size() != 1) err::Raise(err::WrongArgumentCount);
            put(CStr(args[0]));
            return {};
        }
        err::Raise(err::MemberNotFound);
    };
    switch (id) {
    case dispid::fileOpen: return method([&] { fileOpen(); return Variant(); });
    case dispid::InitAudio: return method([&] { InitAudio(); return Variant(); });
    case dispid::InitVideo: return method([&] { InitVideo(); return Variant(); });
    case dispid::Resourcedir:
        return property([&] { return get_Resourcedir(); }, [&](std::string v) { put_Resourcedir(std::move(v)); });
    case dispid::AsanaNaME:
        return property([&] { return get_AsanaNaME(); }, [&](std::string v) { put_AsanaNaME(std::move(v)); });
    case dispid::StopPlay: return method([&] { return StopPlay(); });
    case dispid::Preview: return method([&] { return Preview(); });
    case dispid::Pause: return method([&] { return Pause(); });
    case dispid::Start: return method([&] { return Start(); });
    case dispid::Ppreview: return method([&] { return Ppreview(); });
    default: err::Raise(err::MemberNotFound);
    }
}

void* VideoCntl::Surface() { return QtRuntimeSurface(forms_); }

}  // namespace calmora
