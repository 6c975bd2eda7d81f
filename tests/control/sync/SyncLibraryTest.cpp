#include <calmora/sync.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace calmora;

std::string Shell(const std::string& cmd) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(::popen(cmd.c_str(), "r"), ::pclose);
    std::array<char, 4096> buf;
    while (p && std::fgets(buf.data(), buf.size(), p.get())) out += buf.data();
    return out;
}

class SyncLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("CALMORA_BIN");
        ASSERT_NE(bin, nullptr);
        path = fs::path(bin) / "sync.ocx";
        ASSERT_TRUE(fs::exists(path)) << path;
        registry = fs::temp_directory_path() / ("calmora-registry-" + std::to_string(::getpid()));
        ::setenv("CALMORA_REGISTRY", registry.c_str(), 1);
        lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << ::dlerror();
    }
    void TearDown() override {
        if (lib) ::dlclose(lib);
        fs::remove_all(registry);
    }
    template <typename F>
    F* Entry(const char* name) {
        auto* f = reinterpret_cast<F*>(::dlsym(lib, name));
        EXPECT_NE(f, nullptr) << name;
        return f;
    }

    fs::path path;
    fs::path registry;
    void* lib = nullptr;
};

class Site final : public ContainerSite {
public:
    explicit Site(Forms& f) : forms(f) {}
    void PropertyChanged(std::string_view name) override { changed += std::string(name) + ";"; }
    void RaiseEvent(int, std::string_view) override {}
    Forms& Runtime() override { return forms; }
    std::string MediaEngine() override { return "sim"; }
    Forms& forms;
    std::string changed;
};

TEST_F(SyncLibrary, AHostCreatesAndCallsTheControlThroughTheEntryPoints) {
    auto* getClassObject = Entry<decltype(DllGetClassObject)>("DllGetClassObject");
    auto* canUnload = Entry<decltype(DllCanUnloadNow)>("DllCanUnloadNow");
    auto* makeRuntime = Entry<decltype(CalmoraCreateHeadlessRuntime)>("CalmoraCreateHeadlessRuntime");
    auto* deleteRuntime = Entry<decltype(CalmoraDeleteRuntime)>("CalmoraDeleteRuntime");
    auto* version = Entry<decltype(CalmoraSyncVersion)>("CalmoraSyncVersion");
    ASSERT_TRUE(getClassObject && canUnload && makeRuntime && deleteRuntime && version);
    EXPECT_STREQ(version(), "1.02.0001");

    void* out = reinterpret_cast<void*>(1);
    const Guid other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(getClassObject(&other, &IID_IClassFactory, &out), kCLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(getClassObject(&CLSID_VideoCntl, &other, &out), kE_NOINTERFACE);
    EXPECT_EQ(getClassObject(&CLSID_VideoCntl, &IID_IClassFactory, nullptr), kE_POINTER);
    ASSERT_EQ(getClassObject(&CLSID_VideoCntl, &IID_IClassFactory, &out), kS_OK);
    auto* factory = static_cast<IClassFactory*>(out);

    HeadlessRuntime* runtime = makeRuntime(0);
    ASSERT_NE(runtime, nullptr);
    {
        Site site(*runtime);
        auto control = factory->CreateInstance(site);
        EXPECT_EQ(canUnload(), kS_FALSE) << "an instance is alive";
        control->InitNew();
        EXPECT_EQ(control->get_AsanaNaME(), "0");
        control->put_AsanaNaME("Tadasana");
        Variant folder("/nowhere");
        control->Invoke(dispid::Resourcedir, IVideoCntl::InvokeKind::PropertyPut, {&folder, 1});
        EXPECT_EQ(site.changed, "AsanaNaME;Resourcedir;");
        EXPECT_TRUE(control->Invoke(dispid::StopPlay, IVideoCntl::InvokeKind::Method, {}).isEmpty());
        control->fileOpen();  // no catalogue there: silent
        try {
            control->Preview();
            ADD_FAILURE() << "Preview without a catalogue";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), 3024) << "errors cross the library boundary with their number";
        }
        MemoryPropertyBag bag;
        control->Save(bag);
        EXPECT_EQ(bag.ReadProperty("AsanaNaME", "0"), Variant("Tadasana"));
    }
    EXPECT_EQ(canUnload(), kS_OK);
    deleteRuntime(runtime);
}

TEST_F(SyncLibrary, RegistrationRecordsTheClassForHostsAndIsRemovedAgain) {
    auto* reg = Entry<decltype(DllRegisterServer)>("DllRegisterServer");
    auto* unreg = Entry<decltype(DllUnregisterServer)>("DllUnregisterServer");
    ASSERT_TRUE(reg && unreg);
    ASSERT_EQ(reg(), kS_OK);
    const fs::path file = registry / "Videocontrol.VideoCntl.ini";
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const std::string record = text.str();
    EXPECT_NE(record.find("CLSID=" + std::string("{6B7E4A72-F300-4C44-A545-11D21ECB3C82}")), std::string::npos) << record;
    EXPECT_NE(record.find("InprocServer=" + fs::canonical(path).string() + "\n"), std::string::npos) << record;
    EXPECT_NE(record.find("Version=1.02.0001\n"), std::string::npos);
    EXPECT_NE(record.find("MiscStatus=0x20191\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(path.parent_path() / "VideoCntl.30000.bmp")) << "the toolbox bitmap ships beside it";
    EXPECT_EQ(unreg(), kS_OK);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(SyncLibrary, TheFileCarriesItsNameAndVersion) {
    const std::string dynamic = Shell("readelf -d '" + path.string() + "'");
    EXPECT_NE(dynamic.find("Library soname: [sync.ocx]"), std::string::npos) << dynamic;
    const std::string block = Shell("readelf -p .calmora.version '" + path.string() + "'");
    EXPECT_NE(block.find("FileVersion=1.02.0001"), std::string::npos) << block;
    EXPECT_NE(block.find("OLESelfRegister"), std::string::npos) << block;
    const std::string symbols = Shell("nm -D --defined-only '" + path.string() + "'");
    for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"})
        EXPECT_NE(symbols.find(std::string(" T ") + name + "\n"), std::string::npos) << name << " exported unmangled";
}

}  // namespace
