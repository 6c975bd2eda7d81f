// VideoCntl: the player control. One class, one procedure per public member, timer tick and container
// notification, each a straight step list over the shared fields below. The fields keep the names and
// the types of the control's interface documentation: status words, 16-bit Booleans (True = -1).
#pragma once

#include <calmora/sync.h>

#include "catalogue/Dao.h"
#include "media/MediaCommands.h"
#include "VideoCntl/ServerLock.h"

#include <cstdint>
#include <memory>
#include <string>

namespace calmora {

// How the control opens its catalogue: the file under the resource folder and the connect string.
inline constexpr const char* kCatalogueFile = "\\video\\REZozi.mdb";
inline constexpr const char* kCatalogueConnect = ";PWD=Mira6tocaPQ;";

using Boolean = std::int16_t;
inline constexpr Boolean vbTrue = -1;
inline constexpr Boolean vbFalse = 0;

class VideoCntl final : public IVideoCntl, private media::Observer {
public:
    explicit VideoCntl(ContainerSite& site);
    ~VideoCntl() override;

    // _VideoCntl
    void fileOpen() override;
    void InitAudio() override;
    void InitVideo() override;
    std::string get_Resourcedir() override;
    void put_Resourcedir(std::string value) override;
    std::string get_AsanaNaME() override;
    void put_AsanaNaME(std::string value) override;
    Variant StopPlay() override;
    Variant Preview() override;
    Variant Pause() override;
    Variant Start() override;
    Variant Ppreview() override;

    Variant Invoke(int dispid, InvokeKind kind, std::span<const Variant> args) override;

    void InitNew() override { UserControl_InitProperties(); }
    void Load(PropertyBag& bag) override { UserControl_ReadProperties(bag); }
    void Save(PropertyBag& bag) override { UserControl_WriteProperties(bag); }
    void* Surface() override;

    // Instance state, shared by every member.
    std::shared_ptr<dao::Database> AsanaDb;
    std::shared_ptr<dao::Recordset> AsanaRs;
    std::string SoundName;
    std::string CueName;
    std::int16_t CueStart = 0;
    std::int16_t CueEnd = 0;
    double CueLen = 0;
    std::string VideoFile;
    Boolean CuesDone = vbFalse;
    std::string VideoState;
    std::string SoundState;
    Boolean PhotoPreview = vbFalse;
    Boolean VideoPreview = vbFalse;
    Boolean VideoMode = vbFalse;
    std::string AsanaNameValue;
    std::string ResourcedirValue;

    // Constituent controls on the 352 by 288 pixel surface.
    std::unique_ptr<PictureBox> Picture1;
    std::unique_ptr<PictureBox> Picture2;
    std::unique_ptr<Timer> Timer1;  // video cue timer, 1 ms
    std::unique_ptr<Timer> Timer2;  // photo slide timer, 10 ms (200 ms in a photo preview)

private:
    void Timer1_Timer();
    void Timer2_Timer();
    void UserControl_InitProperties();
    void UserControl_ReadProperties(PropertyBag& bag);
    void UserControl_WriteProperties(PropertyBag& bag);

    // Step lists shared by several members.
    template <typename Steps> void CopyCueRow(Steps& steps);
    void EndOfCueList();
    void EndOfPhotoList();
    void CloseCatalogue();
    void ShowPhotoRow();
    bool NextPhoto();
    void ClearUsedUpList();
    void CueTransition(class ResumeNext& steps);
    std::string SoundOpenCommand() const;
    std::string VideoOpenCommand() const;
    void CloseAllMedia();
    bool YieldToHost();
    bool LastCueVideoRunsOn() const;

    // Platform entries.
    bool mciExecute(std::string_view command);
    void mciSendString(std::string_view command, std::string& reply);
    void SetPicture1(const std::string& file);
    void RaiseVideoEnd();
    void MsgBox(const std::string& prompt);  // the control's own message boxes
    dao::Recordset& Rs();
    dao::Database& Db();

    // media::Observer, forwarded to the host's trace.
    void Command(std::string_view command) override;
    void Failure(std::string_view command, std::string_view reason) override;
    void Query(std::string_view command, std::string_view reply, bool ok) override;

    ServerLock serverLock_;  // keeps the library loaded while the instance lives
    ContainerSite& site_;
    Forms& forms_;
    media::MediaCommands mci_;
    // Bumped by every member that starts or stops an asana; a start method that finds it changed after
    // yielding to the host knows the host has moved on and ends there.
    std::uint64_t startCounter_ = 0;
};

}  // namespace calmora
