// The plug-in loaded by the host, under the sanitizers: host failures,
// start-up and shut-down. Transforms, sub-areas and refused inputs are checked
// against numpy in the Python suite; strided transforms run under the
// sanitizers in the DFTI layer's random-geometry test.
#include <gtest/gtest.h>

#include <algorithm>

#include "PluginTestSupport.h"

namespace lumadex::test {
namespace {

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host_.load_plugin(ZEP32_PATH);
        baseline_ = host_.live_objects().total;
    }
    // Every call, failed or not, gave back every reference it took.
    void TearDown() override { EXPECT_EQ(host_.live_objects().total, baseline_); }

    host::Host host_;
    std::int64_t baseline_ = 0;
};

TEST_F(PluginTest, HostFunctionFailuresReachTheScript)
{
    Image image = MakeImage(host_, RandomField<float>({4, 2}, 1));

    // A function that went stale is looked up again and the call repeated.
    host_.make_stale_once("ImageRef ImageClone( ImageRef )");
    EXPECT_TRUE(std::get<Image>(Call(host_, "ZEPPureFFT", {Arg(image), Arg(1.0), Null()})));

    // A function the host lacks: its prototype is named.
    host_.withdraw_prototype("void ImageDataChanged( ImageRef )");
    EXPECT_EQ(CallError(host_, "ZEPPureFFT", {Arg(image), Arg(1.0), Null()}),
              "A function of the following prototype can not be found:\n\nvoid ImageDataChanged( ImageRef )");
    host_.restore_prototype("void ImageDataChanged( ImageRef )");
    EXPECT_TRUE(std::get<Image>(Call(host_, "ZEPPureFFT", {Arg(image), Arg(1.0), Null()})));

    // The host's own error passes through unchanged: a null source.
    EXPECT_FALSE(CallError(host_, "ZEPPureFFT", {Null(), Arg(1.0), Null()}).empty());
}

struct VersionCase {
    std::uint32_t version;
    bool starts;
};

class HostVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(HostVersionTest, StartsOnlyOnHostsFrom3_10_0)
{
    host::Host host(GetParam().version);
    host.load_plugin(ZEP32_PATH);
    std::size_t registered = 0;
    for (const std::string& signature : host.signatures()) registered += signature.find(" ZEP") != std::string::npos;
    if (GetParam().starts) {
        EXPECT_TRUE(host.startup_errors().empty());
        EXPECT_GT(registered, 0u);
    } else {
        EXPECT_EQ(host.startup_errors(), std::vector<std::string>{"This plugin requires DM 3.10.0 or later."});
        EXPECT_EQ(registered, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, HostVersionTest,
                         ::testing::Values(VersionCase{0x0309FFFF, false}, VersionCase{0x030A0000, true},
                                           VersionCase{0x04000000, true}, VersionCase{0, false}));

TEST(PluginLifecycle, ShutdownRemovesEverySignatureAndGivesBackEveryObject)
{
    host::Host host;
    const std::int64_t before = host.live_objects().total;
    host::Plugin& plugin = host.load_plugin(ZEP32_PATH);
    plugin.run();
    plugin.cleanup();
    EXPECT_TRUE(host.startup_errors().empty());
    host.unload_plugin(plugin);
    EXPECT_TRUE(host.signatures().empty());
    EXPECT_EQ(host.live_objects().total, before);
}

}  // namespace
}  // namespace lumadex::test
