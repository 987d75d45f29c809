// Why a kernel refuses its arguments. The kernels carry no message texts:
// the plug-in's frames turn each reason into their fixed message.
#pragma once

#include <exception>

namespace lumadex::kernels {

enum class Reason {
    OddDimensionSize,   // a half-period shift along an axis of odd size
    PeriodNotPositive,  // a shifted axis with a period below 1
    MatrixLayoutNotSupported,  // a matrix's sizes or row stride beyond BLAS's integers, or rows closer than a row
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
