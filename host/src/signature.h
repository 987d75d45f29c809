// Script-function signatures: "ImageRef ZEPLinearWarpX(ImageRef imgSrc,
// double   fCoef, float    fOffset, ImageRef imgDst)" read into a result
// type, a name and typed parameters. The text is kept exactly as registered.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumadex::host {

enum class ScriptType {
    Void,             // results only
    ImageRef,
    ComplexImagePtr,
    String,           // dm_string
    TagGroup,
    Long,             // int32_t
    Float,
    Double,
    Bool,             // uint8_t
    Char,
    LongOut,          // long *
    DoubleOut,        // double *
    ImageOut,         // ImageRef *
};

std::string_view script_type_name(ScriptType type);  // as a signature writes it
bool is_out_type(ScriptType type);
bool is_image_type(ScriptType type);

struct ScriptParameter {
    ScriptType type;
    std::string name;  // may be empty
};

struct ScriptSignature {
    std::string text;
    ScriptType result = ScriptType::Void;
    std::string name;
    std::vector<ScriptParameter> parameters;
};

// Reads a signature; throws UsageError saying what it cannot read (an
// unknown type, a missing name or parenthesis, a pointer result...).
ScriptSignature parse_signature(std::string_view text);

}  // namespace lumadex::host
