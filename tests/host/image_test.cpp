// Images through the C++ API: sizes, sub-areas sharing pixels, locks under
// both flags, tag groups, and that every object is given back.
#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <string>
#include <numeric>
#include <vector>

#include "abi_helpers.h"
#include "lumadex/host/host.h"

namespace lumadex::host {
namespace {

using testing::live_total;

// A Real 4 image w x h whose pixel (x, y) is x + 100 y.
Image ramp(Host& host, std::int64_t w, std::int64_t h)
{
    const std::int64_t sizes[] = {w, h};
    Image image = host.new_image("ramp", DataType::Real4, sizes);
    std::vector<float> values;
    for (std::int64_t y = 0; y < h; ++y)
        for (std::int64_t x = 0; x < w; ++x) values.push_back(static_cast<float>(x + 100 * y));
    image.write_pixels(values.data(), values.size() * sizeof(float));
    return image;
}

float at(const PixelLock& lock, std::int64_t x, std::int64_t y)
{
    float value;
    std::memcpy(&value, static_cast<const char*>(lock.data) + x * lock.byte_strides[0] + y * lock.byte_strides[1],
                sizeof value);
    return value;
}

void put(const PixelLock& lock, std::int64_t x, std::int64_t y, float value)
{
    std::memcpy(static_cast<char*>(lock.data) + x * lock.byte_strides[0] + y * lock.byte_strides[1], &value,
                sizeof value);
}

TEST(Images, BadSizesAndBadCallsAreRefused)
{
    Host host;
    const std::vector<std::vector<std::int64_t>> bad = {
        {}, {0}, {4, -1}, {1, 1, 1, 1, 1, 1}, {std::int64_t{1} << 31}, {1 << 20, 1 << 20, 4},
        {1 << 18, 1 << 18, 1 << 24}};  // 16 x 2^60 bytes: wraps to 0 if multiplied before the check
    for (const auto& sizes : bad) EXPECT_THROW(host.new_image("bad", DataType::Complex16, sizes), UsageError);
    EXPECT_THROW(host.new_image("bad", static_cast<DataType>(5), std::vector<std::int64_t>{2}), UsageError);

    Image image = ramp(host, 4, 3);
    EXPECT_THROW(image.calibration(2), UsageError);
    EXPECT_THROW(image.lock(2), UsageError);
    std::vector<float> wrong(11);
    EXPECT_THROW(image.write_pixels(wrong.data(), wrong.size() * sizeof(float)), UsageError);
    const std::int64_t start[] = {1, 1}, outside[] = {5, 2}, empty[] = {1, 1};
    EXPECT_THROW(image.subarea(start, outside), UsageError);
    EXPECT_THROW(image.subarea(start, empty), UsageError);
    EXPECT_EQ(image.pixels<float>()[5], 101.0f);  // untouched
}

TEST(Images, SubareaSharesPixelsAndCloneIsDenseAndIndependent)
{
    Host host;
    Image parent = ramp(host, 6, 4);
    parent.set_calibration(0, {10.0f, 0.5f, "nm", ""});
    parent.tags().set("Origin:Name", std::string_view("ramp"));
    const std::int64_t start[] = {1, 1}, end[] = {4, 3};
    Image area = parent.subarea(start, end);
    EXPECT_TRUE(area.is_subarea());
    EXPECT_EQ(area.sizes(), (std::vector<std::int64_t>{3, 2}));
    EXPECT_EQ(area.pixels<float>(), (std::vector<float>{101, 102, 103, 201, 202, 203}));
    EXPECT_EQ(area.calibration(0).origin, 9.0f);  // same calibrated coordinates
    EXPECT_EQ(area.calibration(0).scale, 0.5f);

    const std::vector<float> written = {-1, -2, -3, -4, -5, -6};
    area.write_pixels(written.data(), written.size() * sizeof(float));
    const std::vector<float> after = parent.pixels<float>();
    EXPECT_EQ(after[6 * 1 + 1], -1.0f);
    EXPECT_EQ(after[6 * 2 + 3], -6.0f);
    EXPECT_EQ(after[6 * 1 + 0], 100.0f);  // outside the area
    EXPECT_EQ(after[6 * 3 + 3], 303.0f);

    Image copy = area.clone();
    EXPECT_FALSE(copy.is_subarea());
    EXPECT_EQ(copy.pixels<float>(), written);
    EXPECT_EQ(copy.calibration(0).units, "nm");
    EXPECT_EQ(std::get<std::string>(copy.tags().get("Origin:Name")), "ramp");
    const std::vector<float> ones(6, 1.0f);
    copy.write_pixels(ones.data(), ones.size() * sizeof(float));
    EXPECT_EQ(area.pixels<float>(), written);

    // A sub-area of a sub-area still addresses the first parent.
    const std::int64_t inner_start[] = {1, 1}, inner_end[] = {3, 2};
    Image inner = area.subarea(inner_start, inner_end);
    EXPECT_EQ(inner.pixels<float>(), (std::vector<float>{-5, -6}));
}

TEST(Images, WholeImageLocksInPlaceUnderBothFlags)
{
    Host host;
    Image image = ramp(host, 5, 3);
    for (std::uint32_t flags : {DM_LOCK_DENSE, DM_LOCK_IN_PLACE}) {
        PixelLock a = image.lock(flags);
        PixelLock b = image.lock(flags);
        EXPECT_EQ(a.data, b.data);
        EXPECT_EQ(a.num_dims, 2);
        EXPECT_EQ(a.byte_strides[0], 4);
        EXPECT_EQ(a.byte_strides[1], 20);
        EXPECT_EQ(at(a, 4, 2), 204.0f);
    }
}

TEST(Images, SubareaLocksSeeAndWriteTheRightPixels)
{
    Host host;
    Image parent = ramp(host, 8, 6);
    const std::int64_t start[] = {2, 1}, end[] = {5, 4};
    Image area = parent.subarea(start, end);

    {
        PixelLock whole = parent.lock(DM_LOCK_IN_PLACE);
        PixelLock in_place = area.lock(DM_LOCK_IN_PLACE);
        EXPECT_EQ(in_place.sizes[0], 3);
        EXPECT_EQ(in_place.sizes[1], 3);
        EXPECT_EQ(in_place.byte_strides[1], 8 * 4);  // the parent's row pitch
        EXPECT_EQ(in_place.data, static_cast<char*>(whole.data) + (1 * 8 + 2) * 4);
        PixelLock dense = area.lock(DM_LOCK_DENSE);
        EXPECT_EQ(dense.byte_strides[1], 3 * 4);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(at(in_place, x, y), static_cast<float>(x + 2 + 100 * (y + 1)));
                EXPECT_EQ(at(dense, x, y), at(in_place, x, y));
            }
    }

    // A write through a dense lock reaches the parent when the lock ends.
    {
        PixelLock dense = area.lock(DM_LOCK_DENSE);
        put(dense, 1, 1, -7.0f);
        EXPECT_EQ(parent.pixels<float>()[2 * 8 + 3], 203.0f);
    }
    EXPECT_EQ(parent.pixels<float>()[2 * 8 + 3], -7.0f);

    // A dense lock that only read does not undo a write made meanwhile
    // through another lock of overlapping pixels.
    const std::int64_t over_start[] = {3, 2}, over_end[] = {7, 5};
    Image overlapping = parent.subarea(over_start, over_end);
    {
        PixelLock reader = area.lock(DM_LOCK_DENSE);
        PixelLock writer = overlapping.lock(DM_LOCK_IN_PLACE);
        put(writer, 0, 0, 42.0f);  // parent (3, 2), inside both areas
        put(writer, 1, 1, 43.0f);  // parent (4, 3)
    }
    const std::vector<float> after = parent.pixels<float>();
    EXPECT_EQ(after[2 * 8 + 3], 42.0f);
    EXPECT_EQ(after[3 * 8 + 4], 43.0f);
    EXPECT_EQ(after[0], 0.0f);
    EXPECT_EQ(after[5 * 8 + 7], 507.0f);
}

TEST(Images, OneDimensionalLockReportsOneDimension)
{
    Host host;
    const std::int64_t sizes[] = {7};
    Image line = host.new_image("line", DataType::Complex16, sizes);
    PixelLock lock = line.lock(DM_LOCK_IN_PLACE);
    EXPECT_EQ(lock.num_dims, 1);
    EXPECT_EQ(lock.byte_strides[0], 16);
    EXPECT_EQ(line.size(1), 1);
}

TEST(TagGroups, PathsNestOrderAndReplace)
{
    Host host;
    TagGroup tags = host.new_tag_group();
    tags.set("b", 1);
    tags.set("a:x", 2.5);
    tags.set("a:y", std::string_view("text"));
    tags.set("b", 3);  // replaced in place
    EXPECT_EQ(tags.size(), 2u);
    const auto entries = tags.entries();
    EXPECT_EQ(entries[0].first, "b");
    EXPECT_EQ(std::get<std::int32_t>(entries[0].second), 3);
    EXPECT_EQ(entries[1].first, "a");
    const TagGroup a = std::get<TagGroup>(tags.get("a"));
    EXPECT_EQ(a.size(), 2u);
    EXPECT_EQ(std::get<double>(tags.get("a:x")), 2.5);
    EXPECT_EQ(std::get<std::string>(tags.get("a:y")), "text");
    EXPECT_FALSE(tags.contains("a:z"));
    EXPECT_THROW(tags.get("a:z"), UsageError);
    EXPECT_THROW(tags.set("b:c", 1), UsageError);  // b is a value
    EXPECT_THROW(tags.set("a::c", 1), UsageError);
    EXPECT_EQ(std::get<std::int32_t>(tags.get("b")), 3);
}

// A lock's memory stays valid after the lock has ended and a data-type change
// has replaced the image's pixels, and after the image is gone.
TEST(Images, LockedMemoryOutlivesThePixelsItShowed)
{
    Host host;
    testing::Abi abi(host);
    PixelLock lock;
    {
        Image image = ramp(host, 4, 3);
        lock = image.lock(DM_LOCK_IN_PLACE);
        lock.locked_data = ObjectHandle();
        ASSERT_EQ(abi.call("void ConvertToComplex( ImageRef )", nullptr, image.get()), DM_STATUS_OK);
        EXPECT_EQ(image.pixels<std::complex<float>>()[6], std::complex<float>(102.0f));
    }
    put(lock, 3, 2, -1.0f);
    EXPECT_EQ(at(lock, 1, 1), 101.0f);
    EXPECT_EQ(at(lock, 3, 2), -1.0f);
    EXPECT_EQ(live_total(host), 0);
}

// No tag tree grows past kMaxTagDepth: not by a long path, not through a
// nested group's handle, not by a group value, not by copying a tree into
// one of its own groups (each such copy added the tree's depth again).
TEST(TagGroups, NoTreeGrowsDeeperThanTheLimit)
{
    Host host;
    testing::Abi abi(host);
    {
        Image image = ramp(host, 2, 2);
        TagGroup tags = image.tags();
        std::string groups = "g";
        for (int level = 2; level <= kMaxTagDepth; ++level) groups += ":g";  // groups at levels 1 .. 64
        tags.set(groups + ":x", 1);
        TagGroup deepest = std::get<TagGroup>(tags.get(groups));
        TagGroup pair = host.new_tag_group();
        pair.set("a:b", 2);
        EXPECT_THROW(tags.set(groups + ":h:x", 1), UsageError);
        EXPECT_THROW(deepest.set("h:x", 1), UsageError);
        EXPECT_THROW(deepest.set("h", pair), UsageError);
        deepest.set("y", 2);
        std::get<TagGroup>(tags.get("g")).set("h", pair);  // a deep copy, at levels 2 .. 3

        const TagGroup first = std::get<TagGroup>(tags.get("g"));
        EXPECT_EQ(abi.call("void TagGroupCopyTagsFrom( TagGroup, TagGroup )", nullptr, first.get(), tags.get()),
                  DM_STATUS_ERROR);
        EXPECT_NE(abi.take_error().find("deeper than 64 levels"), std::string::npos);
        pair.set("a:b", 3);
        EXPECT_EQ(std::get<std::int32_t>(tags.get("g:h:a:b")), 2);
        EXPECT_EQ(std::get<std::int32_t>(image.clone().tags().get(groups + ":y")), 2);
        EXPECT_EQ(format_tags(image.clone().tags()), format_tags(tags));
    }
    EXPECT_EQ(live_total(host), 0);
}

TEST(LiveObjects, CountedPerClassAndGivenBack)
{
    Host host;
    {
        Image image = ramp(host, 2, 2);
        TagGroup tags = image.tags();
        PixelLock lock = image.lock(DM_LOCK_DENSE);
        const LiveObjects live = host.live_objects();
        EXPECT_EQ(live.by_class.at(DM_CLASS_IMAGE), 1);
        EXPECT_EQ(live.by_class.at(DM_CLASS_TAG_GROUP), 1);
        EXPECT_EQ(live.by_class.at(DM_CLASS_SCRIPT_OBJECT), 1);
        EXPECT_EQ(live.total, 3);
    }
    EXPECT_EQ(live_total(host), 0);
}

}  // namespace
}  // namespace lumadex::host
