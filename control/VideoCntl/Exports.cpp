// The library's entry points: the class factory, self-registration, the unload test and the runtimes
// for hosts that load the library with dlopen.
#include <calmora/sync.h>

#include "VideoCntl/ServerLock.h"
#include "VideoCntl/VideoCntl.h"
#include "runtime/ComponentFolder.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#ifndef CALMORA_SYNC_VERSION
#define CALMORA_SYNC_VERSION "1.02.0001"
#endif

// The version block: file and product version, and the mark of a self-registering library. Kept in
// its own section so tools can read it without loading the library (readelf -p .calmora.version).
__attribute__((used, section(".calmora.version"))) static const char kVersionBlock[] =
    "FileVersion=" CALMORA_SYNC_VERSION "\n"
    "ProductVersion=" CALMORA_SYNC_VERSION "\n"
    "OriginalFilename=sync.ocx\n"
    "OLESelfRegister\n";

namespace calmora {

std::string ToString(const Guid& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return buf;
}

namespace {

class VideoCntlFactory final : public IClassFactory {
public:
    std::unique_ptr<IVideoCntl> CreateInstance(ContainerSite& site) override {
        return std::make_unique<VideoCntl>(site);
    }
};

VideoCntlFactory& Factory() {
    static VideoCntlFactory factory;
    return factory;
}

std::string LibraryPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 || !info.dli_fname) return {};
    std::error_code ec;
    auto p = std::filesystem::weakly_canonical(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : p.string();
}

std::filesystem::path RegistryFile() { return std::filesystem::path(RegistryFolder()) / (std::string(kProgId) + ".ini"); }

}  // namespace
}  // namespace calmora

using namespace calmora;

extern "C" {

__attribute__((visibility("default"))) std::int32_t DllGetClassObject(const Guid* clsid, const Guid* iid,
                                                                      void** factory) {
    if (!factory) return kE_POINTER;
    *factory = nullptr;
    if (!clsid || !iid) return kE_POINTER;
    if (!(*clsid == CLSID_VideoCntl)) return kCLASS_E_CLASSNOTAVAILABLE;
    if (!(*iid == IID_IClassFactory)) return kE_NOINTERFACE;
    *factory = static_cast<IClassFactory*>(&Factory());
    return kS_OK;
}

__attribute__((visibility("default"))) std::int32_t DllCanUnloadNow(void) {
    return ServerLock::Live() == 0 ? kS_OK : kS_FALSE;
}

__attribute__((visibility("default"))) std::int32_t DllRegisterServer(void) {
    try {
        const std::string library = LibraryPath();
        const std::string folder = runtime::ComponentFolder();
        const auto file = RegistryFile();
        std::filesystem::create_directories(file.parent_path());
        // Written whole and renamed into place: a reader never sees half a record.
        const auto temp = file.string() + ".tmp";
        {
            std::ofstream out(temp, std::ios::trunc);
            out << "[" << kProgId << "]\n"
                << "ProgID=" << kProgId << "\n"
                << "CLSID=" << ToString(CLSID_VideoCntl) << "\n"
                << "DefaultInterface=" << ToString(IID__VideoCntl) << "\n"
                << "EventInterface=" << ToString(DIID___VideoCntl) << "\n"
                << "TypeLib=" << ToString(LIBID_Videocontrol) << "\n"
                << "TypeLibName=Videocontrol\n"
                << "TypeLibVersion=1.0\n"
                << "Version=" << kSyncVersion << "\n"
                << "MiscStatus=0x" << std::hex << kMiscStatus << std::dec << "\n"
                << "ToolboxBitmap=" << folder << "/VideoCntl." << kToolboxBitmapId << ".bmp\n"
                << "InprocServer=" << library << "\n";
            out.flush();
            if (!out) return kSELFREG_E_CLASS;
        }
        std::filesystem::rename(temp, file);
        return kS_OK;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sync.ocx: registration failed: %s\n", e.what());
        return kSELFREG_E_CLASS;
    }
}

__attribute__((visibility("default"))) std::int32_t DllUnregisterServer(void) {
    std::error_code ec;
    std::filesystem::remove(RegistryFile(), ec);
    return ec ? kSELFREG_E_CLASS : kS_OK;
}

__attribute__((visibility("default"))) const char* CalmoraSyncVersion(void) { return kSyncVersion; }

__attribute__((visibility("default"))) HeadlessRuntime* CalmoraCreateHeadlessRuntime(int realClock) {
    return CreateHeadlessRuntime(realClock ? HeadlessRuntime::ClockKind::Real : HeadlessRuntime::ClockKind::Virtual)
        .release();
}

__attribute__((visibility("default"))) Forms* CalmoraCreateQtRuntime(void* parentWidget) {
    try {
        return CreateQtRuntime(parentWidget).release();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sync.ocx: %s\n", e.what());
        return nullptr;
    }
}

__attribute__((visibility("default"))) void CalmoraDeleteRuntime(Forms* runtime) {
    std::unique_ptr<Forms> owned(runtime);
}

}  // extern "C"
