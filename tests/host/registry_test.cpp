// The script-function registry through the C side: what it accepts, what it
// refuses, and that texts are kept exactly as registered.
#include <gtest/gtest.h>

#include <cstring>

#include "abi_helpers.h"

namespace lumadex::host {
namespace {

using testing::Abi;

extern "C" void never_called() {}

class Registry : public ::testing::Test {
protected:
    dm_object* add(const char* signature, std::int32_t kind = DM_HANDLER_C_FUNCTION,
                   void* address = reinterpret_cast<void*>(&never_called))
    {
        const dm_handler_descriptor handler{kind, address};
        return abi.registry->vtbl->add_function(abi.registry, signature, signature + std::strlen(signature), &handler);
    }

    Host host;
    Abi abi{host};
};

TEST_F(Registry, KeepsTextsExactlyInRegistrationOrder)
{
    const char* const texts[] = {
        "ImageRef ZEPLinearWarpX(ImageRef imgSrc, double   fCoef, float    fOffset, ImageRef imgDst)",
        "ImageRef ZEPLinearWarpX(ImageRef imgSrc, double   fCoef, ImageRef imgDst)",
        "void ZEPMinMax(ImageRef img, double * pMin, long *nX, long* nY, ImageRef *imgOut)",
        "TagGroup ZEPDLLTraceGetCounter()",
        "dm_string ZEPShellExec(dm_string strCommandLine, bool bWait, char cMode, TagGroup tg)",
        "ComplexImagePtr ZEPPureFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
    };
    std::vector<ObjectHandle> functions;
    for (const char* text : texts) {
        functions.push_back(ObjectHandle::adopt(add(text)));
        EXPECT_TRUE(functions.back()) << text << ": " << abi.take_error();
    }
    EXPECT_EQ(host.signatures(), std::vector<std::string>(std::begin(texts), std::end(texts)));
    EXPECT_EQ(host.live_objects().by_class.at(DM_CLASS_FUNCTION), 6);

    // Removal takes the function out; removing it twice is an error.
    EXPECT_EQ(abi.registry->vtbl->remove_function(abi.registry, functions[0].get()), DM_STATUS_OK);
    EXPECT_EQ(host.signatures().front(), texts[1]);
    EXPECT_EQ(abi.registry->vtbl->remove_function(abi.registry, functions[0].get()), DM_STATUS_ERROR);
    EXPECT_NE(abi.take_error().find("is not registered"), std::string::npos);
}

TEST_F(Registry, RefusesWhatItCannotReadOrCall)
{
    ObjectHandle first = ObjectHandle::adopt(add("long ZEPGetVersion()"));
    ASSERT_TRUE(first);
    const char* const refused[] = {
        "",
        "ZEPNoResult(long n)",
        "int ZEPUnknownResult()",
        "long ZEPUnknownParameter(int n)",
        "long * ZEPPointerResult()",
        "void ZEPNoParenthesis",
        "void ZEPUnclosed(long n",
        "void ZEPTrailing(long n) x",
        "void ZEPBadPointer(float * f)",
        "void ZEPBadPointer(ComplexImagePtr * c)",
        "void ZEPBadComma(long n,)",
        "long ZEPGetVersion()",  // the same form twice
        "double ZEPGetVersion( )",
    };
    for (const char* text : refused) {
        EXPECT_EQ(add(text), nullptr) << text;
        EXPECT_FALSE(abi.take_error().empty()) << text;
    }
    EXPECT_EQ(add("void ZEPWrongKind()", 2), nullptr);
    EXPECT_NE(abi.take_error().find("kind 3"), std::string::npos);
    EXPECT_EQ(add("void ZEPNoAddress()", DM_HANDLER_C_FUNCTION, nullptr), nullptr);
    abi.take_error();
    EXPECT_EQ(host.signatures(), std::vector<std::string>{"long ZEPGetVersion()"});
    EXPECT_EQ(host.live_objects().total, 1);

    // Another form of the same name is an overload, not a duplicate.
    ObjectHandle overload = ObjectHandle::adopt(add("long ZEPGetVersion(long n)"));
    EXPECT_TRUE(overload);
}

TEST_F(Registry, CallsOfUnknownNamesAndUnfittingArgumentsNameTheFunction)
{
    ObjectHandle f = ObjectHandle::adopt(add("ImageRef ZEPAbs(ImageRef imgSrc, ImageRef imgDst)"));
    ObjectHandle g = ObjectHandle::adopt(add("ImageRef ZEPAbs(ComplexImagePtr imgSrc, ImageRef imgDst)"));
    std::vector<Argument> args = {{Value{std::int64_t{1}}}, {Value{2.0}}};
    try {
        host.call("ZEPAbs", args);
        FAIL();
    } catch (const ScriptError& error) {
        EXPECT_STREQ(error.what(), "No form of ZEPAbs takes (number, number).");
    }
    try {
        host.call("ZEPFoo", args);
        FAIL();
    } catch (const ScriptError& error) {
        EXPECT_STREQ(error.what(), "Unknown script function ZEPFoo.");
    }
}

}  // namespace
}  // namespace lumadex::host
