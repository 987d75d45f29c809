// The plug-in loaded by the host, under the sanitizers: transforms that write
// through a parent's pitches, refused inputs, host failures, start-up and
// shut-down. The results themselves are checked against numpy in the Python
// suite.
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

template <class T>
class PureFFTTyped : public PluginTest {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(PureFFTTyped, Precisions);

// Source and destination are disjoint sub-areas of one image: each is
// transformed where it lies, with the parent's pitches, and nothing else of
// the parent changes.
TYPED_TEST(PureFFTTyped, DisjointSubareasOfOneImage)
{
    using T = TypeParam;
    struct Case {
        std::vector<std::int64_t> parent, srcStart, dstStart, size;
    };
    const Case cases[] = {
        {{12, 10}, {0, 0}, {6, 5}, {5, 4}},           // apart
        {{12, 4}, {0, 0}, {6, 0}, {5, 4}},            // side by side: the rows interleave
        {{7, 6, 5}, {0, 0, 0}, {3, 2, 1}, {3, 2, 4}}, // boxes of a stack
        {{5, 4}, {0, 0}, {4, 0}, {1, 4}},             // two columns
    };
    for (const Case& c : cases) {
        const Field<T> parentField = RandomField<T>(c.parent, 11);
        Image parent = MakeImage(this->host_, parentField);
        std::vector<std::int64_t> srcEnd, dstEnd;
        for (std::size_t d = 0; d < c.size.size(); ++d) {
            srcEnd.push_back(c.srcStart[d] + c.size[d]);
            dstEnd.push_back(c.dstStart[d] + c.size[d]);
        }
        Image src = parent.subarea(c.srcStart, srcEnd);
        Image dst = parent.subarea(c.dstStart, dstEnd);
        const Field<T> srcField{c.size, src.template pixels<std::complex<T>>()};
        const auto expected = NaiveDft(srcField, +1, 1.0);

        Call(this->host_, "ZEPPureFFT", {Arg(src), Arg(1.0), Arg(dst)});
        EXPECT_LT(RelativeError(dst.template pixels<std::complex<T>>(), expected), Tolerance<T>());

        // Every parent pixel outside the destination box is as it was.
        const auto after = parent.template pixels<std::complex<T>>();
        std::vector<std::int64_t> n = c.parent;
        n.resize(3, 1);
        std::vector<std::int64_t> start = c.dstStart, end = dstEnd;
        start.resize(3, 0);
        end.resize(3, 1);
        for (std::int64_t i = 0; i < parentField.count(); ++i) {
            const std::int64_t x = i % n[0], y = i / n[0] % n[1], z = i / (n[0] * n[1]);
            const bool inside = x >= start[0] && x < end[0] && y >= start[1] && y < end[1] && z >= start[2] &&
                                z < end[2];
            if (!inside) {
                ASSERT_EQ(after[i], parentField.values[i]) << "pixel " << i;
            }
        }
    }
}

TYPED_TEST(PureFFTTyped, RefusesBadImagesAndLeavesTheDestinationAlone)
{
    using T = TypeParam;
    const DataType other = ComplexType<T>() == DataType::Complex8 ? DataType::Complex16 : DataType::Complex8;
    Image source = MakeImage(this->host_, RandomField<T>({6, 4}, 1));
    const Field<T> destinationField = RandomField<T>({6, 4}, 2);
    Image destination = MakeImage(this->host_, destinationField);

    Image mixed = this->host_.new_image("mixed", other, std::vector<std::int64_t>{6, 4});
    EXPECT_EQ(CallError(this->host_, "ZEPPureFFT", {Arg(source), Arg(1.0), Arg(mixed)}),
              "All data type should be Complex 8 or Complex 16.");
    Image real = this->host_.new_image("real", DataType::Real4, std::vector<std::int64_t>{6, 4});
    EXPECT_EQ(CallError(this->host_, "ZEPPureIFFT", {Arg(real), Arg(1.0), Null()}),
              "All data type should be Complex 8 or Complex 16.");

    const std::vector<std::vector<std::int64_t>> wrongShapes = {{6, 5}, {4, 6}, {6, 4, 2}, {6, 4, 1, 3}};
    for (const auto& shape : wrongShapes) {
        Image wrong = this->host_.new_image("wrong", ComplexType<T>(), shape);
        EXPECT_EQ(CallError(this->host_, "ZEPPureFFT", {Arg(source), Arg(1.0), Arg(wrong)}),
                  "Images of different size cannot appear in this function.");
    }

    // A fourth dimension must match too; a fifth is more than the views hold.
    Image stack4 = this->host_.new_image("4-D", ComplexType<T>(), std::vector<std::int64_t>{6, 4, 1, 3});
    EXPECT_EQ(CallError(this->host_, "ZEPPureFFT", {Arg(stack4), Arg(1.0), Arg(destination)}),
              "Images of different size cannot appear in this function.");
    Image stack5 = this->host_.new_image("5-D", ComplexType<T>(), std::vector<std::int64_t>{6, 4, 1, 1, 2});
    EXPECT_EQ(CallError(this->host_, "ZEPPureFFT", {Arg(stack5), Arg(1.0), Null()}),
              "Images of more than four dimensions cannot appear in this function.");

    // Overlapping sub-areas, including one whose first pixel lies outside the
    // source's first rows but still inside the box.
    Image parent = MakeImage(this->host_, RandomField<T>({100, 8}, 3));
    const auto parentBefore = parent.template pixels<std::complex<T>>();
    const std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> overlapping[] = {
        {{1, 1}, {5, 5}}, {{3, 0}, {7, 4}}, {{0, 2}, {4, 6}}};
    Image a = parent.subarea(std::vector<std::int64_t>{0, 0}, std::vector<std::int64_t>{4, 4});
    for (const auto& [start, end] : overlapping) {
        Image b = parent.subarea(start, end);
        EXPECT_EQ(CallError(this->host_, "ZEPPureFFT", {Arg(a), Arg(1.0), Arg(b)}),
                  "Subareas belonging to the same image cannot overlap.");
        EXPECT_EQ(CallError(this->host_, "ZEPPureFFT", {Arg(b), Arg(1.0), Arg(a)}),
                  "Subareas belonging to the same image cannot overlap.");
    }
    EXPECT_EQ(parent.template pixels<std::complex<T>>(), parentBefore);
    EXPECT_EQ(destination.template pixels<std::complex<T>>(), destinationField.values);
}

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
