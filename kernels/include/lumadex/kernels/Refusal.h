// Why a kernel refuses its arguments. The kernels carry no message texts:
// the plug-in's frames turn each reason into their fixed message.
#pragma once

#include <exception>

namespace lumadex::kernels {

enum class Reason {
    OddDimensionSize,   // a half-period shift along an axis of odd size
    PeriodNotPositive,  // a shifted axis with a period below 1
    TooFewElements,     // an operand holding fewer elements than the first source
    // a matrix whose sizes or row stride BLAS's 32-bit integers cannot hold,
    // or whose rows lie closer together than a row is long
    MatrixLayoutNotSupported,
};

class Refusal : public std::exception {
public:
    explicit Refusal(Reason reason) : reason_(reason) {}
    Reason reason() const { return reason_; }
    const char* what() const noexcept override { return "lumadex::kernels::Refusal"; }

private:
    Reason reason_;
};

}  // namespace lumadex::kernels
