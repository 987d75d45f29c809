#include "signature.h"

#include <cctype>
#include <optional>

#include "lumadex/host/host.h"

namespace lumadex::host {
namespace {

struct TypeWord {
    std::string_view word;
    ScriptType value;
    std::optional<ScriptType> pointer;  // the out-parameter form, if any
};

constexpr TypeWord kTypeWords[] = {
    {"ImageRef", ScriptType::ImageRef, ScriptType::ImageOut},
    {"ComplexImagePtr", ScriptType::ComplexImagePtr, std::nullopt},
    {"dm_string", ScriptType::String, std::nullopt},
    {"TagGroup", ScriptType::TagGroup, std::nullopt},
    {"long", ScriptType::Long, ScriptType::LongOut},
    {"float", ScriptType::Float, std::nullopt},
    {"double", ScriptType::Double, ScriptType::DoubleOut},
    {"bool", ScriptType::Bool, std::nullopt},
    {"char", ScriptType::Char, std::nullopt},
};

// A small reader over the text: words, and the punctuation ( ) , *.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    void skip_blanks()
    {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool at_end()
    {
        skip_blanks();
        return pos_ == text_.size();
    }
    bool take(char c)
    {
        skip_blanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::string_view word()
    {
        skip_blanks();
        const std::size_t start = pos_;
        if (pos_ < text_.size() && (std::isalpha(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
            while (pos_ < text_.size() &&
                   (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
                ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string quoted(std::string_view word, std::string_view suffix = {})
{
    std::string text = "\"";
    text.append(word).append(suffix).append("\"");
    return text;
}

[[noreturn]] void refuse(std::string_view text, const std::string& why)
{
    throw UsageError("Cannot register \"" + std::string(text) + "\": " + why);
}

ScriptType read_type(Reader& reader, std::string_view text, bool is_result)
{
    const std::string_view word = reader.word();
    if (word.empty()) refuse(text, is_result ? "it does not start with a result type." : "a parameter has no type.");
    const bool pointer = reader.take('*');
    if (is_result && word == "void" && !pointer) return ScriptType::Void;
    for (const TypeWord& type : kTypeWords) {
        if (type.word != word) continue;
        if (!pointer) return type.value;
        if (is_result) refuse(text, "a result cannot be a pointer.");
        if (!type.pointer) refuse(text, quoted(word, " *") + " is not a script type.");
        return *type.pointer;
    }
    refuse(text, quoted(word) + " is not a script type.");
}

}  // namespace

std::string_view script_type_name(ScriptType type)
{
    switch (type) {
    case ScriptType::Void: return "void";
    case ScriptType::ImageRef: return "ImageRef";
    case ScriptType::ComplexImagePtr: return "ComplexImagePtr";
    case ScriptType::String: return "dm_string";
    case ScriptType::TagGroup: return "TagGroup";
    case ScriptType::Long: return "long";
    case ScriptType::Float: return "float";
    case ScriptType::Double: return "double";
    case ScriptType::Bool: return "bool";
    case ScriptType::Char: return "char";
    case ScriptType::LongOut: return "long *";
    case ScriptType::DoubleOut: return "double *";
    case ScriptType::ImageOut: return "ImageRef *";
    }
    return "?";
}

bool is_out_type(ScriptType type)
{
    return type == ScriptType::LongOut || type == ScriptType::DoubleOut || type == ScriptType::ImageOut;
}

bool is_image_type(ScriptType type) { return type == ScriptType::ImageRef || type == ScriptType::ComplexImagePtr; }

ScriptSignature parse_signature(std::string_view text)
{
    ScriptSignature signature;
    signature.text = std::string(text);
    Reader reader(text);
    signature.result = read_type(reader, text, true);
    signature.name = std::string(reader.word());
    if (signature.name.empty()) refuse(text, "the function has no name.");
    if (!reader.take('(')) refuse(text, "the name is not followed by \"(\".");
    if (!reader.take(')')) {
        do {
            ScriptParameter parameter{read_type(reader, text, false), {}};
            parameter.name = std::string(reader.word());
            signature.parameters.push_back(std::move(parameter));
        } while (reader.take(','));
        if (!reader.take(')')) refuse(text, "the parameter list does not end with \")\".");
    }
    if (!reader.at_end()) refuse(text, "there is text after \")\".");
    return signature;
}

}  // namespace lumadex::host
