// sync.ocx: the Calmora player control VideoCntl, for hosts.
//
// Embedding, in short:
//   1. Create a forms runtime: CreateQtRuntime(parentWidget) in a Qt program, or
//      CreateHeadlessRuntime(...) without a display (you then drive its event loop).
//   2. Implement ContainerSite: it hands the control that runtime, receives property-changed
//      notifications and the VideoEnd event.
//   3. Get the class factory with DllGetClassObject(&CLSID_VideoCntl, &IID_IClassFactory, &p) (or link
//      the library and call it directly), CreateInstance(site), then InitNew() or Load(bag).
//   4. put_Resourcedir(folder without trailing "/" or "\"), put_AsanaNaME(name), fileOpen(); on VideoEnd
//      set the next name and call fileOpen() again (allowed inside the handler).
// Every member runs on the UI thread. Members that fail throw calmora::RuntimeError with the error's
// number (3021: no such asana for Preview/Ppreview; 3024: catalogue missing; ...). fileOpen and
// StopPlay never throw for lesson content: fileOpen shows "Asana not found - <name>" itself.
#pragma once

#include <calmora/Error.h>
#include <calmora/Runtime.h>
#include <calmora/Variant.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace calmora {

inline constexpr const char* kSyncVersion = "1.02.0001";
inline constexpr const char* kProgId = "Videocontrol.VideoCntl";
// OLE miscellaneous status of the class: recompose on resize, cannot link inside, inside-out,
// activate when visible, set client site first.
inline constexpr std::uint32_t kMiscStatus = 0x20191;
// Resource number of the 16x15, 16-colour toolbox bitmap; the image ships beside the library as
// "VideoCntl.30000.bmp".
inline constexpr int kToolboxBitmapId = 30000;

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    friend bool operator==(const Guid&, const Guid&) = default;
};
std::string ToString(const Guid& g);  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"

// Identifiers of the type library Videocontrol (version 1.0, locale 0x409) and its members.
inline constexpr Guid LIBID_Videocontrol{0x5ed0e11e, 0xeae2, 0x4f32, {0x8f, 0x8e, 0x3b, 0x23, 0xb4, 0x89, 0x41, 0x96}};
inline constexpr Guid CLSID_VideoCntl{0x6b7e4a72, 0xf300, 0x4c44, {0xa5, 0x45, 0x11, 0xd2, 0x1e, 0xcb, 0x3c, 0x82}};
inline constexpr Guid IID__VideoCntl{0xe1e6b340, 0xd05e, 0x4241, {0xa3, 0x51, 0xdb, 0x51, 0xcf, 0x3c, 0x24, 0x03}};
inline constexpr Guid DIID___VideoCntl{0xcf5478c5, 0x1305, 0x4163, {0xb4, 0x15, 0x40, 0x7a, 0xc3, 0x8d, 0x77, 0xe6}};
inline constexpr Guid IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Dispatch ids of _VideoCntl and of the event interface __VideoCntl.
namespace dispid {
inline constexpr int AsanaNaME = 0x68030000;
inline constexpr int Resourcedir = 0x68030001;
inline constexpr int fileOpen = 0x60030002;
inline constexpr int InitAudio = 0x60030003;
inline constexpr int InitVideo = 0x60030004;
inline constexpr int StopPlay = 0x6003000A;
inline constexpr int Preview = 0x6003000B;
inline constexpr int Pause = 0x6003000C;
inline constexpr int Start = 0x6003000D;
inline constexpr int Ppreview = 0x6003000E;
inline constexpr int VideoEnd = 1;  // event, no arguments
}  // namespace dispid

// The container's property bag. ReadProperty gives the default when the key is absent; WriteProperty
// does not store a value equal to its default.
class PropertyBag {
public:
    virtual ~PropertyBag() = default;
    virtual Variant ReadProperty(std::string_view name, const Variant& defaultValue) = 0;
    virtual void WriteProperty(std::string_view name, const Variant& value, const Variant& defaultValue) = 0;
};

class MemoryPropertyBag final : public PropertyBag {
public:
    Variant ReadProperty(std::string_view name, const Variant& defaultValue) override {
        auto it = values_.find(std::string(name));
        return it == values_.end() ? defaultValue : it->second;
    }
    void WriteProperty(std::string_view name, const Variant& value, const Variant& defaultValue) override {
        if (value == defaultValue)
            values_.erase(std::string(name));
        else
            values_[std::string(name)] = value;
    }
    const std::map<std::string, Variant, std::less<>>& contents() const { return values_; }

private:
    std::map<std::string, Variant, std::less<>> values_;
};

// What the control did, for a host's trace. Paths and commands are given exactly as the control built
// them. All calls come on the UI thread.
class TraceSink {
public:
    virtual ~TraceSink() = default;
    virtual void MediaCommand(std::string_view /*command*/) {}
    virtual void MediaFailure(std::string_view /*command*/, std::string_view /*reason*/) {}
    // ok is false when the query failed (no reply written).
    virtual void MediaQuery(std::string_view /*command*/, std::string_view /*reply*/, bool /*ok*/) {}
    virtual void MessageBox(std::string_view /*prompt*/) {}  // the control's own boxes only
    virtual void Picture(std::string_view /*file*/) {}       // each picture assigned to Picture1
    virtual void PictureFailure(std::string_view /*file*/, std::string_view /*reason*/) {}
};

// Implemented by the host: the control's link to its container.
class ContainerSite {
public:
    virtual ~ContainerSite() = default;
    // Marks the stored properties dirty; sent on every property put. May throw (the put then fails).
    virtual void PropertyChanged(std::string_view propertyName) = 0;
    // Raises an event (VideoEnd: dispid 1, no arguments). The host's handler runs before it returns.
    virtual void RaiseEvent(int dispid, std::string_view eventName) = 0;
    // The forms runtime the control's timers and picture boxes live in; must outlive the control.
    virtual Forms& Runtime() = 0;
    // Ambient: which media engine plays: "gstreamer", "sim" or "sim:<scenario.json>".
    virtual std::string MediaEngine() { return "gstreamer"; }
    virtual TraceSink* Trace() { return nullptr; }
};

// The control's default interface _VideoCntl, its persistence and late-bound dispatch.
class IVideoCntl {
public:
    virtual ~IVideoCntl() = default;

    // Members in interface order.
    virtual void fileOpen() = 0;
    virtual void InitAudio() = 0;
    virtual void InitVideo() = 0;
    virtual std::string get_Resourcedir() = 0;
    virtual void put_Resourcedir(std::string value) = 0;
    virtual std::string get_AsanaNaME() = 0;
    virtual void put_AsanaNaME(std::string value) = 0;
    virtual Variant StopPlay() = 0;
    virtual Variant Preview() = 0;
    virtual Variant Pause() = 0;
    virtual Variant Start() = 0;
    virtual Variant Ppreview() = 0;

    // Late binding by dispatch id, as a script calls the control. Property puts take one argument.
    enum class InvokeKind { Method, PropertyGet, PropertyPut };
    virtual Variant Invoke(int dispid, InvokeKind kind, std::span<const Variant> args = {}) = 0;

    // Container notifications: a new instance, an instance loaded from saved state, saving.
    virtual void InitNew() = 0;
    virtual void Load(PropertyBag& bag) = 0;
    virtual void Save(PropertyBag& bag) = 0;

    // The control's surface (the Qt runtime's QWidget*, null when headless).
    virtual void* Surface() = 0;
};

class IClassFactory {
public:
    virtual ~IClassFactory() = default;
    virtual std::unique_ptr<IVideoCntl> CreateInstance(ContainerSite& site) = 0;
};

// What a catalogue holds, for a host's lesson list: each asana of the Asanas table in stored order.
struct AsanaSummary {
    std::string name;
    std::string dispType;            // Disp_Type as text, "" when Null
    bool video = false;              // fileOpen plays it as a video asana (Disp_Type exactly "Video")
    std::vector<std::string> cues;   // a video asana's cues: each Action (its Filename when Action is empty)
    int photos = 0;                  // a photo asana's number of photos
    bool listReadable = false;       // its cue or photo table could be read
};
// Opens the catalogue under a resource folder (as put into Resourcedir) shared and read-only, reads it
// and closes it. Throws RuntimeError with the database engine's number when it cannot be opened (3024
// missing, 3031 password, 3045 held by another process).
std::vector<AsanaSummary> CatalogueSummary(std::string_view resourceDir);

// Where DllRegisterServer records the class: $CALMORA_REGISTRY if set, otherwise
// $XDG_DATA_HOME/calmora/registry (default ~/.local/share/calmora/registry); one file per class,
// "<ProgID>.ini", with the lines ProgID=, CLSID=, TypeLib=, Version=, MiscStatus=, ToolboxBitmap=,
// InprocServer= (the absolute path of sync.ocx).
inline std::string RegistryFolder() {
    if (const char* r = std::getenv("CALMORA_REGISTRY"); r && *r) return r;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/calmora/registry";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.local/share/calmora/registry";
}

}  // namespace calmora

// HRESULT-style results of the entry points.
inline constexpr std::int32_t kS_OK = 0;
inline constexpr std::int32_t kS_FALSE = 1;
inline constexpr std::int32_t kE_POINTER = static_cast<std::int32_t>(0x80004003u);
inline constexpr std::int32_t kE_NOINTERFACE = static_cast<std::int32_t>(0x80004002u);
inline constexpr std::int32_t kCLASS_E_CLASSNOTAVAILABLE = static_cast<std::int32_t>(0x80040111u);
inline constexpr std::int32_t kSELFREG_E_CLASS = static_cast<std::int32_t>(0x80040201u);

extern "C" {
// *factory receives a calmora::IClassFactory* owned by the library (do not delete it).
std::int32_t DllGetClassObject(const calmora::Guid* clsid, const calmora::Guid* iid, void** factory);
// kS_OK when no instance is alive (the library may be unloaded), kS_FALSE otherwise.
std::int32_t DllCanUnloadNow(void);
std::int32_t DllRegisterServer(void);
std::int32_t DllUnregisterServer(void);
// "1.02.0001"
const char* CalmoraSyncVersion(void);
// Runtimes for hosts that load the library with dlopen; delete the result with CalmoraDeleteRuntime.
calmora::HeadlessRuntime* CalmoraCreateHeadlessRuntime(int realClock);
calmora::Forms* CalmoraCreateQtRuntime(void* parentWidget);
void CalmoraDeleteRuntime(calmora::Forms* runtime);
}
