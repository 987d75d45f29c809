// Images and their pixel locks.
//
// An image owns (or, as a sub-area, shares) a PixelBuffer and says where its
// elements lie in it: an offset and byte strides per dimension. A whole image
// is dense; a sub-area keeps its parent's strides.
//
// A lock is a ScriptObject ("locked data") that holds the image and describes
// its pixels; the lock ends when the object's last reference goes. Locked with
// DM_LOCK_IN_PLACE a sub-area describes its pixels where they lie, in the
// parent's buffer. Locked with DM_LOCK_DENSE a sub-area is handed over as a
// dense copy; when the lock ends, the elements that changed in the copy are
// written back (only those, so a dense lock that only read cannot undo a write
// made meanwhile through another lock of overlapping pixels).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "lumadex/host/host.h"
#include "object_model.h"
#include "pixels.h"
#include "tag_group_object.h"

namespace lumadex::host {

struct ImageObject : dm_object {
    static constexpr ClassIndex kClass = ClassIndex::Image;
    explicit ImageObject(std::shared_ptr<ObjectBook> book) : dm_object(kClass, std::move(book)) {}

    DataType type = DataType::Real4;
    int num_dims = 0;
    std::int64_t sizes[kMaxDimensions] = {};
    std::int64_t strides[kMaxDimensions] = {};  // bytes, in the buffer
    std::int64_t offset = 0;                    // bytes from the buffer's start to element 0
    std::shared_ptr<PixelBuffer> pixels;        // shared with sub-areas
    bool is_subarea = false;

    std::string name;
    Calibration calibrations[kMaxDimensions];
    Ref<TagGroupObject> tags;  // made on first use
    int locks = 0;             // live locked-data objects
    std::int64_t changes_noted = 0;  // ImageDataChanged calls

    // 1 beyond the image's dimensions.
    std::int64_t size(int dim) const { return dim < num_dims ? sizes[dim] : 1; }
    std::int64_t element_count() const { return layout().element_count(); }
    std::size_t element_bytes() const { return element_size(type); }
    PixelLayout layout() const;
};

// A new dense image of zeros; sizes are checked (UsageError).
Ref<ImageObject> make_image(std::shared_ptr<ObjectBook> book, std::string name, DataType type,
                            std::span<const std::int64_t> sizes);

// A sub-area [start, end) per dimension of `parent`, sharing its pixels. It
// starts with the parent's name, tags (a copy) and calibrations (origins moved
// so that calibrated coordinates agree with the parent's).
Ref<ImageObject> make_subarea(const ImageObject& parent, std::span<const std::int64_t> start,
                              std::span<const std::int64_t> end);

// A dense, independent copy: pixels, name, calibrations and tags.
Ref<ImageObject> clone_image(const ImageObject& image);

// The image's tag group, made on first use.
TagGroupObject& image_tags(ImageObject& image);

// Copies `source`'s pixels into `target`, converting to target's type. The
// sizes must match, the types must be convertible (UsageError otherwise);
// overlapping pixels of one buffer are handled.
void convert_image_data(const ImageObject& source, ImageObject& target);

// Changes the image's data type, converting its pixels. Refused for a locked
// image, a sub-area, and an image whose pixels sub-areas share.
void change_data_type(ImageObject& image, DataType type);

// Dense copies of the pixels in and out, x fastest.
void read_pixels(const ImageObject& image, std::byte* out);
void write_pixels(ImageObject& image, const std::byte* in);

struct LockedDataObject : dm_object {
    static constexpr ClassIndex kClass = ClassIndex::ScriptObject;
    LockedDataObject(std::shared_ptr<ObjectBook> book, Ref<ImageObject> image, std::uint32_t flags);
    ~LockedDataObject() override;

    const Ref<ImageObject> image;
    const std::uint32_t flags;
    PixelLayout pixels;  // what the lock hands out
    std::shared_ptr<const void> memory;  // owns the bytes `pixels` lies in
    std::unique_ptr<PixelBuffer> copy;      // dense copy of a sub-area
    std::unique_ptr<PixelBuffer> snapshot;  // the copy as it was made
};

// Locks with DM_LOCK_DENSE or DM_LOCK_IN_PLACE (UsageError for other flags).
Ref<LockedDataObject> lock_image(ImageObject& image, std::uint32_t flags);

}  // namespace lumadex::host
