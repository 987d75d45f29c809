// Bad configurations and bad calls: each gives a nonzero status in the right
// class, a message that names the problem, and leaves the caller's data as
// it was. Plus the read-back of what was configured.
#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <string>
#include <vector>

#include "mkl_dfti.h"

namespace {

using cf = std::complex<float>;

void expect_failure(MKL_LONG status, MKL_LONG error_class, const char* words) {
    EXPECT_NE(status, 0);
    EXPECT_TRUE(DftiErrorClass(status, error_class)) << "status " << status;
    const std::string message = DftiErrorMessage(status);
    EXPECT_NE(message.find(words), std::string::npos) << message;
}

struct Descriptor {
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    Descriptor(MKL_LONG n, DFTI_CONFIG_VALUE domain = DFTI_COMPLEX) {
        EXPECT_EQ(DftiCreateDescriptor(&h, DFTI_SINGLE, domain, MKL_LONG{1}, n), 0);
    }
    ~Descriptor() { DftiFreeDescriptor(&h); }
};

}  // namespace

TEST(DftiBadConfiguration, CreationRejectsWhatCannotBeATransform) {
    DFTI_DESCRIPTOR_HANDLE h = reinterpret_cast<DFTI_DESCRIPTOR_HANDLE>(0x1);
    expect_failure(DftiCreateDescriptor(&h, DFTI_SINGLE, DFTI_COMPLEX, MKL_LONG{1}, MKL_LONG{0}),
                   DFTI_INVALID_CONFIGURATION, "length is below 1");
    EXPECT_EQ(h, nullptr);
    MKL_LONG lengths[] = {4, -3, 2};
    expect_failure(DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_REAL, MKL_LONG{3}, lengths), DFTI_INVALID_CONFIGURATION,
                   "length is below 1");
    expect_failure(DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{0}, MKL_LONG{4}),
                   DFTI_INVALID_CONFIGURATION, "rank");
    expect_failure(DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{8}, lengths), DFTI_INVALID_CONFIGURATION,
                   "rank");
    expect_failure(DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{2}, static_cast<MKL_LONG*>(nullptr)),
                   DFTI_INVALID_CONFIGURATION, "lengths pointer");
    expect_failure(DftiCreateDescriptor(&h, DFTI_COMPLEX, DFTI_COMPLEX, MKL_LONG{1}, MKL_LONG{4}),
                   DFTI_INVALID_CONFIGURATION, "precision");
    expect_failure(DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_SINGLE, MKL_LONG{1}, MKL_LONG{4}),
                   DFTI_INVALID_CONFIGURATION, "domain");
    expect_failure(DftiCreateDescriptor(nullptr, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{1}, MKL_LONG{4}),
                   DFTI_BAD_DESCRIPTOR, "handle is null");
}

TEST(DftiBadConfiguration, RejectedValuesLeaveTheDescriptorAsItWas) {
    Descriptor d(8);
    ASSERT_EQ(DftiSetValue(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
    ASSERT_EQ(DftiCommitDescriptor(d.h), 0);
    expect_failure(DftiSetValue(d.h, static_cast<DFTI_CONFIG_PARAM>(999), 1), DFTI_INVALID_CONFIGURATION,
                   "unknown configuration parameter");
    expect_failure(DftiSetValue(d.h, DFTI_PLACEMENT, DFTI_REAL), DFTI_INVALID_CONFIGURATION, "invalid value");
    expect_failure(DftiSetValue(d.h, DFTI_NUMBER_OF_TRANSFORMS, MKL_LONG{0}), DFTI_INVALID_CONFIGURATION,
                   "number of transforms");
    expect_failure(DftiSetValue(d.h, DFTI_INPUT_STRIDES, static_cast<MKL_LONG*>(nullptr)), DFTI_INVALID_CONFIGURATION,
                   "strides pointer");
    expect_failure(DftiSetValue(d.h, DFTI_LENGTHS, MKL_LONG{4}), DFTI_INVALID_CONFIGURATION, "cannot be set");
    expect_failure(DftiSetValue(d.h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_REAL), DFTI_UNIMPLEMENTED,
                   "not supported");
    expect_failure(DftiSetValue(d.h, DFTI_NUMBER_OF_USER_THREADS, MKL_LONG{2}), DFTI_UNIMPLEMENTED, "not supported");
    expect_failure(DftiSetValue(d.h, DFTI_THREAD_LIMIT, MKL_LONG{-1}), DFTI_INVALID_CONFIGURATION, "invalid value");

    // Still committed, still out of place, still usable.
    DFTI_CONFIG_VALUE v{};
    ASSERT_EQ(DftiGetValue(d.h, DFTI_COMMIT_STATUS, &v), 0);
    EXPECT_EQ(v, DFTI_COMMITTED);
    ASSERT_EQ(DftiGetValue(d.h, DFTI_PLACEMENT, &v), 0);
    EXPECT_EQ(v, DFTI_NOT_INPLACE);
    MKL_LONG limit = -2;
    ASSERT_EQ(DftiGetValue(d.h, DFTI_THREAD_LIMIT, &limit), 0);
    EXPECT_EQ(limit, 0);
    std::vector<cf> in(8, cf(1, 0)), out(8);
    ASSERT_EQ(DftiComputeForward(d.h, in.data(), out.data()), 0);
    EXPECT_EQ(out[0], cf(8, 0));
}

TEST(DftiBadConfiguration, InconsistentLayoutsFailAtCommit) {
    {
        Descriptor d(8);  // several transforms without distances
        ASSERT_EQ(DftiSetValue(d.h, DFTI_NUMBER_OF_TRANSFORMS, MKL_LONG{3}), 0);
        expect_failure(DftiCommitDescriptor(d.h), DFTI_INCONSISTENT_CONFIGURATION, "distances");
    }
    {
        Descriptor d(8);  // a zero stride along a real axis
        MKL_LONG strides[] = {0, 0};
        ASSERT_EQ(DftiSetValue(d.h, DFTI_INPUT_STRIDES, strides), 0);
        expect_failure(DftiCommitDescriptor(d.h), DFTI_INCONSISTENT_CONFIGURATION, "stride");
    }
    {
        Descriptor d(8);  // in place, but two different layouts
        MKL_LONG in[] = {0, 1}, out[] = {0, 2};
        ASSERT_EQ(DftiSetValue(d.h, DFTI_INPUT_STRIDES, in), 0);
        ASSERT_EQ(DftiSetValue(d.h, DFTI_OUTPUT_STRIDES, out), 0);
        expect_failure(DftiCommitDescriptor(d.h), DFTI_INCONSISTENT_CONFIGURATION, "in place");
    }
    {
        Descriptor d(8);  // offsets past any address
        MKL_LONG far[] = {MKL_LONG{1} << 61, 1};
        ASSERT_EQ(DftiSetValue(d.h, DFTI_INPUT_STRIDES, far), 0);
        expect_failure(DftiCommitDescriptor(d.h), DFTI_INVALID_CONFIGURATION, "reach too far");
    }
}

TEST(DftiBadCalls, FailWithoutWritingAnything) {
    std::vector<cf> data(32);
    for (size_t i = 0; i < data.size(); ++i) data[i] = cf(float(i), -float(i));
    const auto before = data;

    Descriptor d(8);
    expect_failure(DftiComputeForward(d.h, data.data()), DFTI_INCONSISTENT_CONFIGURATION, "not committed");
    expect_failure(DftiComputeForward(nullptr, data.data()), DFTI_BAD_DESCRIPTOR, "handle is null");
    ASSERT_EQ(DftiCommitDescriptor(d.h), 0);
    expect_failure(DftiComputeBackward(d.h, nullptr), DFTI_INCONSISTENT_CONFIGURATION, "data pointer is null");
    ASSERT_EQ(DftiSetValue(d.h, DFTI_BACKWARD_SCALE, 2.0f), 0);  // uncommits
    expect_failure(DftiComputeBackward(d.h, data.data()), DFTI_INCONSISTENT_CONFIGURATION, "not committed");

    // Out of place, the output must not meet the input.
    ASSERT_EQ(DftiSetValue(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
    ASSERT_EQ(DftiCommitDescriptor(d.h), 0);
    expect_failure(DftiComputeForward(d.h, data.data(), static_cast<void*>(nullptr)),
                   DFTI_INCONSISTENT_CONFIGURATION, "output pointer");
    expect_failure(DftiComputeForward(d.h, data.data(), data.data() + 7), DFTI_INCONSISTENT_CONFIGURATION, "overlaps");
    expect_failure(DftiComputeForward(d.h, data.data() + 4, data.data()), DFTI_INCONSISTENT_CONFIGURATION, "overlaps");
    EXPECT_EQ(data, before);
    EXPECT_EQ(DftiComputeForward(d.h, data.data(), data.data() + 8), 0);
}

// Two sub-areas of one image interleave row by row without sharing a pixel:
// legal out of place (the left half transformed into the right half).
TEST(DftiBadCalls, DisjointSubAreasOfOneImageAreNotAnOverlap) {
    const MKL_LONG width = 16, height = 5, half = 8;
    std::vector<cf> image(width * height);
    for (MKL_LONG y = 0; y < height; ++y)
        for (MKL_LONG x = 0; x < half; ++x) image[y * width + x] = (x == 0 && y == 0) ? cf(1, 0) : cf(0, 0);
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    MKL_LONG n[] = {height, half}, strides[] = {0, width, 1};
    ASSERT_EQ(DftiCreateDescriptor(&h, DFTI_SINGLE, DFTI_COMPLEX, MKL_LONG{2}, n), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_INPUT_STRIDES, strides), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_OUTPUT_STRIDES, strides), 0);
    ASSERT_EQ(DftiCommitDescriptor(h), 0);
    ASSERT_EQ(DftiComputeForward(h, image.data(), image.data() + half), 0);
    for (MKL_LONG y = 0; y < height; ++y)
        for (MKL_LONG x = half; x < width; ++x) EXPECT_EQ(image[y * width + x], cf(1, 0));
    // Shifted by one column the two areas share pixels.
    expect_failure(DftiComputeForward(h, image.data(), image.data() + half - 1), DFTI_INCONSISTENT_CONFIGURATION,
                   "overlaps");
    DftiFreeDescriptor(&h);
    expect_failure(DftiFreeDescriptor(&h), DFTI_BAD_DESCRIPTOR, "handle is null");

    // Two columns of one image: strided runs that interleave without meeting.
    MKL_LONG column[] = {0, width};
    ASSERT_EQ(DftiCreateDescriptor(&h, DFTI_SINGLE, DFTI_COMPLEX, MKL_LONG{1}, height), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_INPUT_STRIDES, column), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_OUTPUT_STRIDES, column), 0);
    ASSERT_EQ(DftiCommitDescriptor(h), 0);
    EXPECT_EQ(DftiComputeForward(h, image.data() + 2, image.data() + 3), 0);
    expect_failure(DftiComputeForward(h, image.data() + 2, image.data() + 2 + 2 * width),
                   DFTI_INCONSISTENT_CONFIGURATION, "overlaps");
    DftiFreeDescriptor(&h);
}

