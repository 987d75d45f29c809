// Script calls into the test plug-in: loading, every script type, overloads,
// out-parameters, errors raised by the handler or passed through from the
// host, and no object left behind by any call.
#include <gtest/gtest.h>

#include <vector>

#include "abi_helpers.h"

namespace lumadex::host {
namespace {

using testing::Abi;
using testing::live_total;

class ScriptCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        plugin = &host.load_plugin(LUMADEX_TEST_PLUGIN);
        baseline = live_total(host);  // the plug-in holds its Function handles
    }

    // Objects alive beyond what the plug-in holds.
    std::int64_t live() const { return live_total(host) - baseline; }

    // Calls `name`; the objects alive afterwards are those the test holds
    // plus what the call returned.
    Value call(const char* name, std::vector<Argument>& args) { return host.call(name, args); }

    std::string error_of(const char* name, std::vector<Argument> args)
    {
        const std::int64_t before = live();
        try {
            host.call(name, args);
        } catch (const ScriptError& error) {
            EXPECT_EQ(live(), before) << name;
            return error.what();
        }
        ADD_FAILURE() << name << " did not fail";
        return {};
    }

    Host host;
    Plugin* plugin = nullptr;
    std::int64_t baseline = 0;
};

TEST_F(ScriptCalls, LoadingRegistersEveryFormAndUnloadingRemovesThem)
{
    EXPECT_TRUE(host.startup_errors().empty());
    const auto signatures = host.signatures();
    ASSERT_EQ(signatures.size(), 14u);
    EXPECT_EQ(signatures[2],
              "long TestScalars(long n, float   f, bool bFlag, char cLetter, dm_string strText, long * nOut, double "
              "*fOut)");
    host.unload_plugin(*plugin);
    EXPECT_TRUE(host.signatures().empty());
    EXPECT_EQ(live_total(host), 0);

    // A plug-in that leaves functions registered loses them at unloading.
    Plugin& again = host.load_plugin(LUMADEX_TEST_PLUGIN);
    std::vector<Argument> none;
    host.call("TestForgetOnShutdown", none);
    host.unload_plugin(again);
    EXPECT_TRUE(host.signatures().empty());
    EXPECT_EQ(live_total(host), 0);
    EXPECT_THROW(host.unload_plugin(again), UsageError);
}

TEST(PluginLoading, VersionCheckAndLibrariesThatAreNotPlugins)
{
    {
        Host old(0x0309FFFFu);
        old.load_plugin(LUMADEX_TEST_PLUGIN);
        EXPECT_EQ(old.startup_errors(), std::vector<std::string>{"This plugin requires DM 3.10.0 or later."});
        EXPECT_TRUE(old.signatures().empty());
    }
    {
        Host exact(0x030A0000u);
        exact.load_plugin(LUMADEX_TEST_PLUGIN);
        EXPECT_TRUE(exact.startup_errors().empty());
        EXPECT_EQ(exact.signatures().size(), 14u);
        EXPECT_THROW(exact.load_plugin(LUMADEX_TEST_PLUGIN), UsageError);  // loaded already
        // The library links to one host at a time: a second host may not
        // take it away from the first.
        Host other;
        EXPECT_THROW(other.load_plugin(LUMADEX_TEST_PLUGIN), UsageError);
        EXPECT_EQ(exact.signatures().size(), 14u);
    }
    Host host;
    EXPECT_THROW(host.load_plugin("/nonexistent/plugin.so"), UsageError);
    EXPECT_THROW(host.load_plugin("libm.so.6"), UsageError);  // no entry points
    try {
        host.load_plugin(LUMADEX_TEST_PLUGIN_V3);
        ADD_FAILURE();
    } catch (const UsageError& error) {
        EXPECT_NE(std::string(error.what()).find("speaks link protocol version 3; this host speaks version 2."),
                  std::string::npos);
    }
    EXPECT_TRUE(host.signatures().empty());
}

TEST_F(ScriptCalls, RunAndCleanupReportWhatTheyRaise)
{
    plugin->run();
    EXPECT_EQ(host.results(), std::vector<std::string>{"run"});
    plugin->cleanup();
    EXPECT_EQ(host.startup_errors(), std::vector<std::string>{"Cleanup raised this."});
}

TEST_F(ScriptCalls, ScalarsStringsAndNumberOutParameters)
{
    std::vector<Argument> args = {{std::int64_t{41}},       {1.5},
                                  {std::int64_t{1}},        {std::int64_t{'A'}},
                                  {std::string("hello")},   {std::int64_t{3}, true},
                                  {0.25, true}};
    const Value result = call("TestScalars", args);
    EXPECT_EQ(std::get<std::int64_t>(result), 42);
    EXPECT_EQ(std::get<std::int64_t>(args[5].value), 3 * 10 + 41 + 1);
    EXPECT_EQ(std::get<double>(args[6].value), 0.25 + 1.5 + 'A');
    EXPECT_EQ(host.results(), std::vector<std::string>{"hello"});
    EXPECT_EQ(live(), 0);

    // A double that is a whole number is a long; others are refused by name.
    args[0].value = 41.0;
    EXPECT_EQ(std::get<std::int64_t>(call("TestScalars", args)), 42);
    args[0].value = 1.5;
    EXPECT_EQ(error_of("TestScalars", args),
              "TestScalars: n (long) must be a whole number from -2147483648 to 2147483647.");
    args[0].value = std::int64_t{1} << 31;
    EXPECT_NE(error_of("TestScalars", args).find("TestScalars: n (long)"), std::string::npos);
    args[0].value = std::int64_t{1};
    args[3].value = std::int64_t{300};
    EXPECT_EQ(error_of("TestScalars", args), "TestScalars: cLetter (char) must be a whole number from -128 to 127.");

    // Out-parameters fit only out-arguments, and the other way round.
    args[3].value = std::int64_t{'A'};
    args[6].out = false;
    EXPECT_EQ(error_of("TestScalars", args),
              "No form of TestScalars takes (number, number, number, number, string, out number, number).");
}

TEST_F(ScriptCalls, FloatBoolAndCharResults)
{
    std::vector<Argument> args = {{std::int64_t{-5}}};
    EXPECT_EQ(std::get<double>(call("TestHalf", args)), -2.5);
    EXPECT_EQ(std::get<std::int64_t>(call("TestPositive", args)), 0);
    args[0].value = 0.5;
    EXPECT_EQ(std::get<std::int64_t>(call("TestPositive", args)), 1);
    args[0].value = std::int64_t{'y'};
    EXPECT_EQ(std::get<std::int64_t>(call("TestNextLetter", args)), 'z');
    args[0].value = std::int64_t{-2};
    EXPECT_EQ(std::get<std::int64_t>(call("TestNextLetter", args)), -1);
}

TEST_F(ScriptCalls, OverloadsAreToldApartByTheImageKind)
{
    const std::int64_t sizes[] = {4, 4};
    std::vector<Argument> args = {{host.new_image("r", DataType::Real8, sizes)}};
    EXPECT_EQ(std::get<std::string>(call("TestKind", args)), "real image");
    args[0].value = host.new_image("c", DataType::Complex16, sizes);
    EXPECT_EQ(std::get<std::string>(call("TestKind", args)), "complex image");
    args[0].value = host.new_image("c", DataType::Complex8, sizes);
    EXPECT_EQ(std::get<std::string>(call("TestKind", args)), "complex image");
    args[0].value = std::monostate{};  // an omitted image fits the ImageRef form
    EXPECT_EQ(std::get<std::string>(call("TestKind", args)), "real image");
    // With no ImageRef form to prefer, a real image reaches a ComplexImagePtr
    // parameter, so that the handler can refuse it in its own words.
    std::vector<Argument> real = {{host.new_image("r", DataType::Int16, sizes)}};
    EXPECT_EQ(std::get<std::int64_t>(call("TestTypeCode", real)), 1);
    EXPECT_EQ(error_of("TestKind", {{std::string("x")}}), "No form of TestKind takes (string).");
    EXPECT_EQ(error_of("TestKind", {}), "No form of TestKind takes ().");
    EXPECT_EQ(error_of("TestNothing", {}), "Unknown script function TestNothing.");
}

TEST_F(ScriptCalls, ImageOutParameterAndComplexResult)
{
    std::vector<Argument> args = {{std::int64_t{4}}, {std::int64_t{3}}, {std::monostate{}, true}};
    EXPECT_TRUE(std::holds_alternative<std::monostate>(call("TestMakeImage", args)));
    Image made = std::get<Image>(args[2].value);
    EXPECT_EQ(made.sizes(), (std::vector<std::int64_t>{4, 3}));
    EXPECT_EQ(made.pixels<float>(), (std::vector<float>{0, 1, 2, 3, 100, 101, 102, 103, 200, 201, 202, 203}));
    EXPECT_EQ(live(), 1);

    // The handler replaces the image the out-argument held.
    call("TestMakeImage", args);
    EXPECT_NE(std::get<Image>(args[2].value), made);
    made = Image();
    EXPECT_EQ(live(), 1);

    std::vector<Argument> width = {{std::int64_t{5}}};
    const Image complex = std::get<Image>(call("TestComplex", width));
    EXPECT_EQ(complex.data_type(), DataType::Complex8);
    EXPECT_EQ(complex.sizes(), (std::vector<std::int64_t>{5, 1}));
    EXPECT_EQ(error_of("TestComplex", {{std::int64_t{0}}}),
              "ComplexImage: the size 0 along dimension 0 is not between 1 and 2147483647.");
}

TEST_F(ScriptCalls, TagGroupsInAndOut)
{
    TagGroup source = host.new_tag_group();
    source.set("a", 1);
    source.set("Result:Value", std::string_view("old"));
    std::vector<Argument> args = {{source}, {2.5}};
    const TagGroup made = std::get<TagGroup>(call("TestTags", args));
    EXPECT_EQ(std::get<std::int32_t>(made.get("a")), 1);
    EXPECT_EQ(std::get<double>(made.get("Result:Value")), 2.5);
    EXPECT_EQ(std::get<std::int32_t>(made.get("Result:Count")), 3);
    EXPECT_EQ(std::get<std::string>(source.get("Result:Value")), "old");
}

TEST_F(ScriptCalls, RaisedErrorsReachTheCallerWithTheirExactText)
{
    EXPECT_EQ(error_of("TestRaisePair", {{std::int64_t{28802}}}), "A message from the pair.");
    EXPECT_EQ(error_of("TestRaisePair", {{std::int64_t{12345}}}), "An error (12345,7) has occurred.");
    // The handler raises and still returns an image: the host gives it back.
    EXPECT_EQ(error_of("TestRaiseString", {{std::string("Made from a string.")}}), "Made from a string.");

    // A host error passes through unchanged: the same text as the host gives
    // the same call made directly.
    const std::int64_t sizes[] = {6, 2};
    Image image = host.new_image("image", DataType::Real4, sizes);
    Abi abi(host);
    std::uint32_t size = 0;
    ASSERT_EQ(abi.call("uint32 ImageGetDimensionSize( ImageRef, uint32 )", &size, image.get(), 9u),
              DM_STATUS_ERROR);
    const std::string host_text = abi.take_error();
    EXPECT_EQ(error_of("TestDimension", {{image}, {std::int64_t{9}}}), host_text);

    // The raised error does not outlive its call.
    std::vector<Argument> args = {{image}, {std::int64_t{0}}};
    EXPECT_EQ(std::get<std::int64_t>(call("TestDimension", args)), 6);
    args[1].value = std::int64_t{3};
    EXPECT_EQ(std::get<std::int64_t>(call("TestDimension", args)), 1);
    args.clear();
    image = Image();
    EXPECT_EQ(live(), 0);
}

}  // namespace
}  // namespace lumadex::host
