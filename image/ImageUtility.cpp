#include "ImageUtility.h"

#include <stdexcept>

namespace tarn::dm {

std::string DataTypeName(std::uint32_t code)
{
    switch (code) {
    case kInteger1Signed:
    case kInteger1Unsigned: return "Integer 1";
    case kInteger2Signed:
    case kInteger2Unsigned: return "Integer 2";
    case kInteger4Signed:
    case kInteger4Unsigned: return "Integer 4";
    case kReal4: return "Real 4";
    case kReal8: return "Real 8";
    case kComplex8: return "Complex 8";
    case kComplex16: return "Complex 16";
    default: return "Unknown";
    }
}

ImageDataLocker::ImageDataLocker(const Gatan::DM::Image& image, std::uint32_t flags)
    : image_(image), flags_(flags), lockedData_(Gatan::DM::ImageGetLockedData(image, flags))
{
    if (!lockedData_) throw std::runtime_error("The host did not lock the image's pixels.");
    Gatan::DM::ExtractImageDataSequenceFromScriptObjectOrFail(lockedData_, &record_);
    locked_ = true;
}

// Dropping the locked-data object gives the pixels back to the host.
ImageDataLocker::~ImageDataLocker() = default;

}  // namespace tarn::dm
