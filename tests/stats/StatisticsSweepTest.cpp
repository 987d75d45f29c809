// Every statistics function over every accepted data type, odd sizes,
// sub-areas and long rows, with the vectorised kernels on and off: the two
// give the same bits, every call gives back its references, and under the
// sanitizers no pixel outside an image is touched.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "lumadex/host/host.h"

namespace {

using namespace lumadex::host;

const std::vector<DataType> kTypes = {DataType::Int8,   DataType::UInt8,  DataType::Int16, DataType::UInt16,
                                      DataType::Int32,  DataType::UInt32, DataType::Real4, DataType::Real8,
                                      DataType::Complex8, DataType::Complex16};
const std::vector<std::vector<std::int64_t>> kShapes = {{1}, {3}, {40000}, {33, 1}, {5, 7}, {3, 4, 5}, {2, 3, 4, 5}};

Argument In(Value v) { return {std::move(v), false}; }
Argument Out(Value v) { return {std::move(v), true}; }

Image Filled(Host& host, DataType type, const std::vector<std::int64_t>& sizes, unsigned seed)
{
    Image image = host.new_image("sweep", type, sizes);
    std::vector<unsigned char> bytes(image.element_count() * image.element_size());
    std::mt19937 random(seed);
    for (auto& b : bytes) b = static_cast<unsigned char>(random() % 7);  // small values, some repeated
    image.write_pixels(bytes.data(), bytes.size());
    return image;
}

// The outputs of every function that accepts `image`, as raw bytes.
std::vector<unsigned char> Outputs(Host& host, const Image& image, DataType type)
{
    std::vector<unsigned char> out;
    auto keep = [&](const std::vector<Argument>& args) {
        for (const Argument& a : args) {
            if (!a.out) continue;
            double number = 0;  // the bits of a double out-value, or the integer's value
            if (const double* d = std::get_if<double>(&a.value)) number = *d;
            else number = static_cast<double>(std::get<std::int64_t>(a.value));
            const auto* bits = reinterpret_cast<const unsigned char*>(&number);
            out.insert(out.end(), bits, bits + sizeof number);
        }
    };
    const bool complex = type == DataType::Complex8 || type == DataType::Complex16;
    if (!complex) {
        std::vector<Argument> minmax = {In(image)}, survey = {In(image)}, difference = {In(image), In(image)};
        for (int i = 0; i < 8; ++i) minmax.push_back(Out(i % 4 == 3 ? Value(0.0) : Value(std::int64_t{0})));
        for (int i = 0; i < 5; ++i) survey.push_back(Out(0.0));
        for (int i = 0; i < 7; ++i) difference.push_back(Out(0.0));
        host.call("ZEPMinMax", minmax), host.call("ZEPSurvey", survey), host.call("ZEPSurveyDifference", difference);
        keep(minmax), keep(survey), keep(difference);
    } else if (image.num_dims() <= 3) {
        for (std::int64_t mode : {1, 2, 3}) {
            Image destination = image.clone();
            std::vector<Argument> mask = {In(image), In(image), In(image.size(0) / 2), In(image.size(1) / 2),
                                          In(image.size(2) / 2), In(0.5), In(1.0), In(2.0), In(mode == 2 ? 0.0 : 3.0),
                                          In(mode), Out(0.0), In(destination)};
            host.call("ZEPCrossCorrelationMask", mask);
            keep(mask);
            std::vector<unsigned char> pixels(destination.element_count() * destination.element_size());
            destination.read_pixels(pixels.data(), pixels.size());
            out.insert(out.end(), pixels.begin(), pixels.end());
        }
    }
    std::vector<Argument> reduce = {In(image)};
    if (Value result = host.call("ZEPReduce", reduce); std::holds_alternative<Image>(result)) {
        const Image& reduced = std::get<Image>(result);
        std::vector<unsigned char> pixels(reduced.element_count() * reduced.element_size());
        reduced.read_pixels(pixels.data(), pixels.size());
        out.insert(out.end(), pixels.begin(), pixels.end());
    }
    return out;
}

TEST(StatisticsSweep, VectorisedAndBaseKernelsAgreeEverywhere)
{
    Host host;
    host.load_plugin(ZEP32_PATH);
    const std::int64_t baseline = host.live_objects().total;
    unsigned seed = 1;
    for (DataType type : kTypes)
        for (const auto& shape : kShapes) {
            SCOPED_TRACE(std::string(data_type_name(type)) + " of " + std::to_string(shape.size()) + " dimensions");
            const Image whole = Filled(host, type, shape, seed++);
            std::vector<Image> images = {whole};
            if (shape.size() == 2 && shape[0] > 2 && shape[1] > 2) {
                const std::int64_t start[] = {1, 1}, end[] = {shape[0] - 1, shape[1]};
                images.push_back(whole.subarea(start, end));
            }
            for (const Image& image : images) {
                std::vector<Argument> on = {In(std::int64_t{1})}, off = {In(std::int64_t{0})};
                host.call("ZEPSetUseSIMD", on);
                const auto vectorised = Outputs(host, image, type);
                host.call("ZEPSetUseSIMD", off);
                EXPECT_EQ(Outputs(host, image, type), vectorised);
                host.call("ZEPSetUseSIMD", on);
            }
        }
    EXPECT_EQ(host.live_objects().total, baseline);
}

}  // namespace
