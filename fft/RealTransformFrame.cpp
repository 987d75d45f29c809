#include "RealTransformFrame.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "ImageUtility.h"
#include "Messages.h"
#include "ScriptFrame.h"

namespace zep {

using Gatan::DM::Image;

bool RealToComplex(int sourceCode, int destinationCode)
{
    return (sourceCode == tarn::dm::kReal4 && destinationCode == tarn::dm::kComplex8) ||
           (sourceCode == tarn::dm::kReal8 && destinationCode == tarn::dm::kComplex16);
}

bool ComplexToReal(int sourceCode, int destinationCode) { return RealToComplex(destinationCode, sourceCode); }

namespace {

void Calibrate(const RealTransformFrame& frame, const Image& source, const Image& destination)
{
    const Extent real = ExtentOf(frame.forward ? source : destination);
    const std::uint32_t shared =
        std::min({Gatan::DM::ImageGetNumDimensions(source), Gatan::DM::ImageGetNumDimensions(destination), 3u});
    for (std::uint32_t d = 0; d < shared; ++d)
        if (frame.calibrated & (1u << d))
            WriteDimensionCalibration(source, destination, static_cast<std::int32_t>(d), real[d], frame.rules[d]);
    CopyTags(source, destination);
}

}  // namespace

dm_object* RunRealTransform(const char* counterName, const RealTransformFrame& frame, dm_object* imgSrc,
                            double fScale, dm_object* imgDst)
{
    return ScriptCall(counterName, [&] {
        const Image source = Image::Borrow(imgSrc);
        const int sourceCode = Gatan::DM::GetDataType(source);
        const Extent from = ExtentOf(source);

        const bool created = imgDst == nullptr;
        Image destination;
        if (created) {
            const bool doublePrecision = sourceCode == tarn::dm::kReal8 || sourceCode == tarn::dm::kComplex16;
            const Extent to = frame.createdSizes(from);
            const std::string name = (frame.forward ? "FFT of " : "IFFT of ") + Gatan::DM::GetName(source);
            destination = frame.forward ? NewComplexImage(name, doublePrecision ? 16 : 8, to[0], to[1], to[2])
                                        : NewRealImage(name, doublePrecision ? 8 : 4, to[0], to[1], to[2]);
        } else {
            destination = Image::Borrow(imgDst);
        }

        if (!frame.typesFit(sourceCode, Gatan::DM::GetDataType(destination)))
            throw std::runtime_error(message::kInvalidImageType);
        // Refused for what it is, not as a destination too small for it.
        if (created && from[3] > 1) throw std::runtime_error(frame.dimensionMessage);
        const Extent to = ExtentOf(destination);
        // A fourth dimension is transformed like the others: the destination
        // must hold it too.
        const bool fourthFits = frame.forward ? to[3] >= from[3] : to[3] == from[3];
        if (!fourthFits || !frame.sizesFit(from, to)) throw std::runtime_error(frame.sizeMessage);

        // Calibrated before the views lock the new image.
        if (created) Calibrate(frame, source, destination);
        frame.run(source, destination, fScale);
        Gatan::DM::ImageDataChanged(destination);
        return destination;
    });
}

}  // namespace zep
