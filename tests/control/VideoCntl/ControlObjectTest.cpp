// The control object: constituents, properties, persistence, late-bound dispatch.
#include "ControlFixture.h"

namespace calmora::testing {
namespace {

class ControlObject : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        std::ofstream(root / "scenario.json") << scenario.dump();
        control = std::make_unique<VideoCntl>(site);
    }
};

TEST_F(ControlObject, ConstituentsStartAsDesigned) {
    EXPECT_FALSE(control->Timer1->Enabled());
    EXPECT_EQ(control->Timer1->Interval(), 1);
    EXPECT_FALSE(control->Timer2->Enabled());
    EXPECT_EQ(control->Timer2->Interval(), 10);
    EXPECT_EQ(control->Picture1->Picture(), "");
    EXPECT_EQ(control->VideoState, "");
    EXPECT_EQ(control->CuesDone, vbFalse);
    EXPECT_EQ(control->Surface(), nullptr) << "no widget on the headless runtime";
}

TEST_F(ControlObject, ANewInstanceReadsZeroAndSavesNothing) {
    control->InitNew();
    EXPECT_EQ(control->get_Resourcedir(), "0");
    EXPECT_EQ(control->get_AsanaNaME(), "0");
    MemoryPropertyBag bag;
    control->Save(bag);
    EXPECT_TRUE(bag.contents().empty());
    VideoCntl loaded(site);
    loaded.Load(bag);
    EXPECT_EQ(loaded.get_Resourcedir(), "0");
    EXPECT_EQ(loaded.get_AsanaNaME(), "0");
    EXPECT_TRUE(site.changed.empty()) << "container notifications do not mark the properties dirty";
}

TEST_F(ControlObject, PropertiesRoundTripExactlyThroughTheBag) {
    control->InitNew();
    const std::string folder = " /srv/Calmora Res\\ ";
    const std::string name = "Surya Namaskar \"A\" ";
    control->put_Resourcedir(folder);
    control->put_AsanaNaME(name);
    EXPECT_EQ(control->get_Resourcedir(), folder);
    EXPECT_EQ(control->get_AsanaNaME(), name);
    MemoryPropertyBag bag;
    control->Save(bag);
    EXPECT_EQ(bag.contents().size(), 2u);
    VideoCntl loaded(site);
    loaded.Load(bag);
    EXPECT_EQ(loaded.get_Resourcedir(), folder);
    EXPECT_EQ(loaded.get_AsanaNaME(), name);

    // A value stored as a number comes back as its text.
    MemoryPropertyBag numbers;
    numbers.WriteProperty("AsanaNaME", Variant(42), Variant("0"));
    loaded.Load(numbers);
    EXPECT_EQ(loaded.get_AsanaNaME(), "42");
    EXPECT_EQ(loaded.get_Resourcedir(), "0");
}

TEST_F(ControlObject, EveryPutNotifiesEvenWithTheSameValue) {
    control->InitNew();
    control->put_AsanaNaME("Tadasana");
    control->put_AsanaNaME("Tadasana");
    control->put_Resourcedir("0");
    EXPECT_EQ(site.changed, (std::vector<std::string>{"AsanaNaME", "AsanaNaME", "Resourcedir"}));
}

TEST_F(ControlObject, APutFailsWhenTheContainerRefusesTheNotification) {
    struct Refusing : TestSite {
        void PropertyChanged(std::string_view) override { throw RuntimeError(5, "refused"); }
    } refusing;
    refusing.runtime = runtime.get();
    refusing.engine = "sim";
    VideoCntl c(refusing);
    EXPECT_THROW(c.put_AsanaNaME("x"), RuntimeError);
    EXPECT_EQ(c.get_AsanaNaME(), "x") << "stored before the notification";
}

TEST_F(ControlObject, InvokeReachesEachMemberByItsDispatchId) {
    using K = IVideoCntl::InvokeKind;
    control->InitNew();
    Variant arg("Trikonasana");
    EXPECT_TRUE(control->Invoke(dispid::AsanaNaME, K::PropertyPut, {&arg, 1}).isEmpty());
    EXPECT_EQ(control->Invoke(dispid::AsanaNaME, K::PropertyGet, {}), Variant("Trikonasana"));
    Variant folder(res);
    control->Invoke(dispid::Resourcedir, K::PropertyPut, {&folder, 1});
    EXPECT_EQ(control->Invoke(dispid::Resourcedir, K::PropertyGet, {}), Variant(res));

    // The five functions return Empty; each leaves its own mark.
    struct Case {
        int id;
        std::string mark;
    } functions[] = {{dispid::StopPlay, "close all"}, {dispid::Pause, ""}, {dispid::Start, ""}};
    for (const auto& f : functions) {
        site.log.clear();
        EXPECT_TRUE(control->Invoke(f.id, K::Method, {}).isEmpty()) << f.id;
        if (!f.mark.empty()) {
            EXPECT_EQ(Commands(), std::vector<std::string>{f.mark}) << f.id;
        }
    }
    EXPECT_TRUE(control->Timer2->Enabled()) << "Start of a photo-kind control enables Timer2";
    // Preview and Ppreview without a catalogue: their errors come back; fileOpen stays silent.
    for (int id : {dispid::Preview, dispid::Ppreview}) {
        try {
            control->Invoke(id, K::Method, {});
            ADD_FAILURE() << id;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), 3024) << id;
        }
    }
    EXPECT_EQ(control->Timer2->Interval(), 200) << "Ppreview ran";
    EXPECT_NO_THROW(control->Invoke(dispid::fileOpen, K::Method, {}));
    // InitVideo and InitAudio without a recordset fail at their first recordset step.
    for (int id : {dispid::InitVideo, dispid::InitAudio}) {
        site.log.clear();
        try {
            control->Invoke(id, K::Method, {});
            ADD_FAILURE() << id;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), 91) << id;
        }
    }
}

TEST_F(ControlObject, InvokeRejectsWrongKindsAndArguments) {
    using K = IVideoCntl::InvokeKind;
    Variant one("x");
    struct Case {
        int id;
        K kind;
        std::size_t args;
        int error;
    } cases[] = {
        {0x60030099, K::Method, 0, 438},         {dispid::Pause, K::PropertyGet, 0, 438},
        {dispid::AsanaNaME, K::Method, 0, 438},  {dispid::AsanaNaME, K::PropertyPut, 0, 450},
        {dispid::StopPlay, K::Method, 1, 450},   {dispid::Resourcedir, K::PropertyGet, 1, 450},
    };
    for (const auto& c : cases) {
        try {
            control->Invoke(c.id, c.kind, {&one, c.args});
            ADD_FAILURE() << std::hex << c.id;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), c.error) << std::hex << c.id;
        }
    }
}

}  // namespace
}  // namespace calmora::testing
