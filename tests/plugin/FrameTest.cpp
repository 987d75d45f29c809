// The script-call frame and error path, run in-process: the plug-in's code is
// linked into this test and linked to a host, and test handlers registered
// through the plug-in object raise each kind of failure.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "Errors.h"
#include "ImageUtility.h"
#include "HostImageFunctions.h"
#include "HostLink.h"
#include "PlugInMain.h"
#include "ScriptFrame.h"
#include "dm/plugin_entry.h"
#include "lumadex/host/host.h"

extern "C" {
dm_link* DMPlugIn_Link_2(dm_link* link);
void PlugInStartup();
void PlugInShutdown();
}

namespace {

using lumadex::host::Argument;
using lumadex::host::ScriptError;

// Handlers that fail in every way an exception can reach a frame.
dm_object* ThrowLongMessage()
{
    return zep::ScriptCall("TestLongDM", []() -> Gatan::DM::Image {
        throw std::runtime_error(std::string(250, 'a') + std::string(50, 'b'));
    });
}

dm_object* ThrowNonStandard()
{
    return zep::ScriptCall("TestOtherDM", []() -> Gatan::DM::Image { throw 42; });
}

dm_object* ThrowErrorPair()
{
    return zep::ScriptCall("TestPairDM", []() -> Gatan::DM::Image { Gatan::RaiseError(12345, 7); });
}

dm_object* ThrowOutOfMemory()
{
    return zep::ScriptCall("TestMemoryDM", []() -> Gatan::DM::Image { throw std::bad_alloc(); });
}

dm_object* ThrowComError()
{
    return zep::ScriptCall("TestComDM", []() -> Gatan::DM::Image { throw _com_error(-2147467259); });
}

dm_object* ThrowComDescription()
{
    return zep::ScriptCall("TestComDM", []() -> Gatan::DM::Image { throw _com_error(1, "The COM call failed."); });
}

dm_object* FailAssertion()
{
    return zep::ScriptCall("TestAssertDM", []() -> Gatan::DM::Image {
        const std::uint32_t sizes[6] = {1, 1, 1, 1, 1, 1};
        return Gatan::DM::NewImage("too many", 2, 6, sizes);
    });
}

dm_object* PassHostError()
{
    return zep::ScriptCall("TestHostDM", []() -> Gatan::DM::Image {
        Gatan::DM::Image image = Gatan::DM::RealImage("small", 4, 3);
        Gatan::DM::ImageGetDimensionCalibration(image, 7);  // no such dimension
        return image;
    });
}

std::int32_t LongResult(std::int32_t n)
{
    return zep::ScriptCallOr("TestLongResultDM", std::int32_t{1}, [&] {
        if (n < 0) throw std::runtime_error("Negative.");
        return n * 2;
    });
}

class FrameTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        host_ = new lumadex::host::Host();
        DMPlugIn_Link_2(host_->link());
        PlugInStartup();
        auto& plugIn = Gatan::PlugIn::Instance();
        const std::pair<const char*, void*> handlers[] = {
            {"ImageRef ZEPTestLong()", zep::HandlerAddress(&ThrowLongMessage)},
            {"ImageRef ZEPTestOther()", zep::HandlerAddress(&ThrowNonStandard)},
            {"ImageRef ZEPTestPair()", zep::HandlerAddress(&ThrowErrorPair)},
            {"ImageRef ZEPTestMemory()", zep::HandlerAddress(&ThrowOutOfMemory)},
            {"ImageRef ZEPTestCom()", zep::HandlerAddress(&ThrowComError)},
            {"ImageRef ZEPTestComText()", zep::HandlerAddress(&ThrowComDescription)},
            {"ImageRef ZEPTestAssert()", zep::HandlerAddress(&FailAssertion)},
            {"ImageRef ZEPTestHost()", zep::HandlerAddress(&PassHostError)},
            {"long ZEPTestLongResult(long n)", zep::HandlerAddress(&LongResult)},
        };
        for (const auto& [signature, handler] : handlers) plugIn.AddFunction(signature, handler);
    }

    static void TearDownTestSuite()
    {
        PlugInShutdown();
        Gatan::PlugIn::UnlinkFromHost();
        delete host_;
    }

    void SetUp() override { baseline_ = host_->live_objects().total; }
    void TearDown() override { EXPECT_EQ(host_->live_objects().total, baseline_); }

    static std::string ErrorOf(const char* name, std::vector<Argument> args = {})
    {
        try {
            host_->call(name, args);
        } catch (const ScriptError& e) {
            return e.what();
        }
        return "(no error)";
    }

    static lumadex::host::Host* host_;
    std::int64_t baseline_ = 0;
};

lumadex::host::Host* FrameTest::host_ = nullptr;

TEST_F(FrameTest, EachKindOfExceptionReachesTheScriptWithItsText)
{
    EXPECT_EQ(ErrorOf("ZEPTestLong"), std::string(250, 'a') + std::string(5, 'b'));
    EXPECT_EQ(ErrorOf("ZEPTestOther"), "An unspecified error has occurred.");
    EXPECT_EQ(ErrorOf("ZEPTestPair"), "An error (12345,7) has occurred.");
    EXPECT_EQ(ErrorOf("ZEPTestCom"), "An error (28811,-2147467259) has occurred.");
    EXPECT_EQ(ErrorOf("ZEPTestComText"), "The COM call failed.");
    EXPECT_EQ(ErrorOf("ZEPTestAssert").find("Assertion \"num_dim <= kMaxDim\" Failed!") != std::string::npos, true)
        << ErrorOf("ZEPTestAssert");
    EXPECT_EQ(ErrorOf("ZEPTestAssert").rfind("File \"", 0), 0u);
}

TEST_F(FrameTest, OutOfMemoryTravelsAsItsErrorPair)
{
    EXPECT_EQ(ErrorOf("ZEPTestMemory"), "An error (28810,14) has occurred.");
    // No process-wide allocation-failure handler: the host, in the same
    // process, still sees std::bad_alloc from its own allocations.
    EXPECT_EQ(std::get_new_handler(), nullptr);
}

TEST_F(FrameTest, HostErrorsPassThroughUnchanged)
{
    const std::string message = ErrorOf("ZEPTestHost");
    EXPECT_NE(message, "(no error)");
    EXPECT_EQ(message.find("An error ("), std::string::npos) << message;
}

TEST_F(FrameTest, FailedCallsAreCountedAndReturnTheFailureValue)
{
    auto countOf = [](const char* counter) {
        for (const auto& [name, entry] : zep::CallCounters())
            if (std::string(name) == counter) return entry.count;
        return 0;
    };
    const std::int32_t before = countOf("TestPairDM");
    ErrorOf("ZEPTestPair");
    EXPECT_EQ(countOf("TestPairDM"), before + 1);

    std::vector<Argument> args = {Argument{std::int64_t{21}}};
    EXPECT_EQ(std::get<std::int64_t>(host_->call("ZEPTestLongResult", args)), 42);
    args = {Argument{std::int64_t{-1}}};
    EXPECT_THROW(host_->call("ZEPTestLongResult", args), ScriptError);
}

// A copy of a view keeps the pixels locked.
TEST_F(FrameTest, ACopyOfAViewHoldsTheLock)
{
    using lumadex::host::DataType;
    lumadex::host::Image plane = host_->new_image("plane", DataType::Real8, std::vector<std::int64_t>{5, 3});
    std::unique_ptr<tarn::dm::image<double>> copy;
    {
        const tarn::dm::image<double> view(Gatan::DM::Image::Borrow(plane.get()), tarn::dm::kLockInPlace);
        copy = std::make_unique<tarn::dm::image<double>>(view);
    }
    // The copy holds the lock: the host refuses to retype the image.
    EXPECT_THROW(Gatan::DM::ImageChangeDataType(Gatan::DM::Image::Borrow(plane.get()), 2), Gatan::dmplugin_exception);
    copy.reset();
    EXPECT_NO_THROW(Gatan::DM::ImageChangeDataType(Gatan::DM::Image::Borrow(plane.get()), 2));
}

}  // namespace

namespace {

std::int32_t CountOf(const char* counterName)
{
    for (const auto& [name, entry] : zep::CallCounters())
        if (std::string(name) == counterName) return entry.count;
    return 0;
}

std::size_t ZepSignatures(const lumadex::host::Host& host)
{
    std::size_t count = 0;
    for (const std::string& signature : host.signatures()) count += signature.find(" ZEP") != std::string::npos;
    return count;
}

// Start-up as the entry points drive it, without a loader in between.
TEST(Startup, TheLastLinkObjectWinsAndAFailedVersionCheckIsCounted)
{
    lumadex::host::Host first, second;
    DMPlugIn_Link_2(first.link());
    DMPlugIn_Link_2(second.link());
    PlugInStartup();
    EXPECT_EQ(ZepSignatures(first), 0u);
    EXPECT_GT(ZepSignatures(second), 0u);
    PlugInShutdown();
    EXPECT_EQ(ZepSignatures(second), 0u);
    Gatan::PlugIn::UnlinkFromHost();

    lumadex::host::Host old(0x0309FFFF);
    const std::int32_t starts = CountOf("PlugIn_Start");
    DMPlugIn_Link_2(old.link());
    PlugInStartup();
    EXPECT_EQ(CountOf("PlugIn_Start"), starts + 1);
    EXPECT_EQ(ZepSignatures(old), 0u);
    PlugInShutdown();
    Gatan::PlugIn::UnlinkFromHost();

    // No link object at all: the default context is too old as well.
    PlugInStartup();
    EXPECT_EQ(CountOf("PlugIn_Start"), starts + 2);
    EXPECT_EQ(Gatan::PlugIn::HostVersion(), 0u);
    PlugInShutdown();
    Gatan::PlugIn::UnlinkFromHost();
}

}  // namespace
