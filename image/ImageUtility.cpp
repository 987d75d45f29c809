#include "ImageUtility.h"

#include <stdexcept>

#include "Messages.h"

namespace tarn::dm {

std::string DataTypeName(std::uint32_t code)
{
    switch (code) {
#define ZEP_DATA_TYPE(code, identifier, name, bytes, kind) \
    case code: return name;
        DM_DATA_TYPES(ZEP_DATA_TYPE)
#undef ZEP_DATA_TYPE
    default: return "Unknown";
    }
}

ImageDataLocker::ImageDataLocker(const Gatan::DM::Image& image, std::uint32_t flags)
    : image_(image), lockedData_(Gatan::DM::ImageGetLockedData(image, flags))
{
    if (!lockedData_) throw std::runtime_error(zep::message::kNotLocked);
    Gatan::DM::ExtractImageDataSequenceFromScriptObjectOrFail(lockedData_, &record_);
}

// Dropping the locked-data object gives the pixels back to the host.
ImageDataLocker::~ImageDataLocker() = default;

}  // namespace tarn::dm
