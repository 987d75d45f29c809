// Typed views of host images, and the host's data-type codes.
//
// A view `tarn::dm::image<T>` locks a host image's pixels for as long as it
// (or a copy of it) lives, and describes them as the algorithms need: a data
// pointer, sizes along x, y, z and a fourth dimension, and byte strides. With
// lock flags 32 a sub-area is seen where it lies, with its parent's strides;
// with flags 1 the host hands over dense pixels.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "HostImageFunctions.h"
#include "HostObjects.h"
#include "Messages.h"
#include "dm/data_types.h"
#include "dm/image_data.h"

namespace tarn::dm {

// Host data-type codes, from the one table of data types: kInt16, kReal4,
// kComplex8, kUInt8, ... kBinary.
enum DataTypeCode : std::uint32_t {
#define ZEP_DATA_TYPE(code, identifier, name, bytes, kind) k##identifier = code,
    DM_DATA_TYPES(ZEP_DATA_TYPE)
#undef ZEP_DATA_TYPE
};

// The name the messages use: kind and element size in bytes ("Complex 8").
std::string DataTypeName(std::uint32_t code);

// Lock flags handed unchanged to the host.
inline constexpr std::uint32_t kLockInPlace = DM_LOCK_IN_PLACE;  // sub-areas where they lie
inline constexpr std::uint32_t kLockDense = DM_LOCK_DENSE;       // dense pixels

// One lock of a host image's pixels, held from construction to destruction.
class ImageDataLocker {
public:
    ImageDataLocker(const Gatan::DM::Image& image, std::uint32_t flags);
    ~ImageDataLocker();
    ImageDataLocker(const ImageDataLocker&) = delete;
    ImageDataLocker& operator=(const ImageDataLocker&) = delete;

    void* data() const { return record_.data; }
    std::int32_t stride(int d) const { return d < record_.num_dims ? record_.dims[d].stride : 0; }

private:
    Gatan::DM::Image image_;  // held while its pixels are locked
    Gatan::DM::ScriptObject lockedData_;
    dm_image_data_sequence record_{};
};

template <class T>
class image {
public:
    image(const Gatan::DM::Image& hostImage, std::uint32_t flags);

    T* data() const { return data_; }
    std::int32_t size(int d) const { return size_[d]; }
    // Bytes between neighbours along d; 0 when the lock has no dimension d.
    std::int32_t stride(int d) const { return lock_->stride(d); }
    int num_dims() const { return numDims_; }

    // Elements between neighbours along d, or the dense pitch when the lock
    // reports no stride there (a dimension the image lacks).
    std::int64_t pitch(int d) const;
    std::int64_t element_count() const
    {
        return std::int64_t{size_[0]} * size_[1] * size_[2] * size_[3];
    }

private:
    std::shared_ptr<ImageDataLocker> lock_;  // holds the image and its pixels
    T* data_;
    std::int32_t size_[4];
    int numDims_;
};

template <class T>
image<T>::image(const Gatan::DM::Image& hostImage, std::uint32_t flags)
    : lock_(std::make_shared<ImageDataLocker>(hostImage, flags)),
      data_(static_cast<T*>(lock_->data())),
      numDims_(static_cast<int>(Gatan::DM::ImageGetNumDimensions(hostImage)))
{
    // A view of another element size would read past the pixels' end: a
    // frame that forgot its type check fails here instead.
    if (Gatan::DM::ImageGetDataElementByteSize(hostImage) != sizeof(T))
        throw std::runtime_error(
            zep::message::DataTypeCannotAppear(DataTypeName(Gatan::DM::ImageGetDataType(hostImage))));
    // The algorithms see x, y, z and a fourth dimension; a fifth would be
    // silently left out.
    if (numDims_ > 4) throw std::runtime_error(zep::message::kMoreThanFourDimensions);
    for (int d = 0; d < 4; ++d)
        size_[d] = d < numDims_ ? static_cast<std::int32_t>(Gatan::DM::ImageGetDimensionSize(hostImage, d)) : 1;
}

template <class T>
std::int64_t image<T>::pitch(int d) const
{
    if (const std::int32_t bytes = stride(d); bytes != 0) return bytes / std::int64_t{sizeof(T)};
    std::int64_t dense = 1;
    for (int i = 0; i < d; ++i) dense *= size_[i];
    return dense;
}

}  // namespace tarn::dm
