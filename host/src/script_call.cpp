// Script calls: choose the registered form that fits the call's arguments,
// convert the arguments to the handler's C types, call the handler through
// libffi with the C signature its registration describes
// (abi/dm/script_handler.h), and turn its result, out-parameters and raised
// error back into values.
#include <ffi.h>

#include <cmath>
#include <limits>

#include "dm/script_handler.h"
#include "host_state.h"
#include "image_object.h"
#include "tag_group_object.h"

namespace lumadex::host {
namespace {

// --- overload resolution -------------------------------------------------------

bool is_number(const Value& value)
{
    return std::holds_alternative<std::int64_t>(value) || std::holds_alternative<double>(value);
}

// A null image: an omitted argument.
bool is_null(const Value& value)
{
    if (std::holds_alternative<std::monostate>(value)) return true;
    if (const auto* image = std::get_if<Image>(&value)) return !*image;
    return false;
}

const ImageObject* image_of(const Value& value)
{
    const auto* image = std::get_if<Image>(&value);
    return image && *image ? object_cast<ImageObject>(image->get()) : nullptr;
}

bool is_complex_image(const Value& value)
{
    const ImageObject* image = image_of(value);
    return image && type_kind(image->type) == TypeKind::Complex;
}

constexpr int kNoFit = -1;

// How well an argument fits a parameter: kNoFit, or a score where higher is
// better. An image fits ImageRef; a complex image fits ComplexImagePtr best of
// all, so that of two forms differing only there, a complex source reaches the
// ComplexImagePtr form and a real source the ImageRef form. A real image still
// fits ComplexImagePtr, last of all, so that a function with only that form
// gets to refuse the image with its own message.
int fit(ScriptType parameter, const Argument& argument)
{
    const Value& value = argument.value;
    if (argument.out != is_out_type(parameter)) return kNoFit;
    switch (parameter) {
    case ScriptType::LongOut:
    case ScriptType::DoubleOut: return is_null(value) || is_number(value) ? 1 : kNoFit;
    case ScriptType::ImageOut:
    case ScriptType::ImageRef: return is_null(value) || image_of(value) ? 1 : kNoFit;
    case ScriptType::ComplexImagePtr:
        if (is_null(value)) return 1;
        if (!image_of(value)) return kNoFit;
        return is_complex_image(value) ? 2 : 0;
    case ScriptType::String: return std::holds_alternative<std::string>(value) ? 1 : kNoFit;
    case ScriptType::TagGroup: return std::holds_alternative<TagGroup>(value) ? 1 : kNoFit;
    case ScriptType::Long:
    case ScriptType::Float:
    case ScriptType::Double:
    case ScriptType::Bool:
    case ScriptType::Char: return is_number(value) ? 1 : kNoFit;
    case ScriptType::Void: return kNoFit;
    }
    return kNoFit;
}

int fit(const ScriptSignature& signature, std::span<const Argument> args)
{
    if (signature.parameters.size() != args.size()) return kNoFit;
    int score = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const int f = fit(signature.parameters[i].type, args[i]);
        if (f == kNoFit) return kNoFit;
        score += f;
    }
    return score;
}

std::string describe(const Argument& argument)
{
    const Value& value = argument.value;
    std::string kind = is_null(value)                                  ? "null"
                       : image_of(value) || std::holds_alternative<Image>(value) ? "image"
                       : is_number(value)                               ? "number"
                       : std::holds_alternative<std::string>(value)     ? "string"
                                                                        : "tag group";
    return argument.out ? "out " + kind : kind;
}

std::string describe(std::span<const Argument> args)
{
    std::string text = "(";
    for (std::size_t i = 0; i < args.size(); ++i) text += (i ? ", " : "") + describe(args[i]);
    return text + ")";
}

// --- arguments -------------------------------------------------------------------

struct CallContext {
    const std::string& function;
    const ScriptParameter& parameter;
};

[[noreturn]] void bad_number(const CallContext& where, const char* range)
{
    const std::string name = where.parameter.name.empty() ? std::string("an argument") : where.parameter.name;
    throw ScriptError(where.function + ": " + name + " (" + std::string(script_type_name(where.parameter.type)) +
                      ") must be a whole number " + range + ".");
}

std::int64_t whole_number(const Value& value, std::int64_t lowest, std::int64_t highest, const CallContext& where,
                          const char* range)
{
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        if (*integer < lowest || *integer > highest) bad_number(where, range);
        return *integer;
    }
    const double real = is_null(value) ? 0.0 : std::get<double>(value);
    if (!(real >= static_cast<double>(lowest) && real <= static_cast<double>(highest)) || real != std::floor(real))
        bad_number(where, range);
    return static_cast<std::int64_t>(real);
}

std::int32_t to_long(const Value& value, const CallContext& where)
{
    return static_cast<std::int32_t>(whole_number(value, std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max(), where,
                                                  "from -2147483648 to 2147483647"));
}

double to_double(const Value& value)
{
    if (const auto* integer = std::get_if<std::int64_t>(&value)) return static_cast<double>(*integer);
    if (const auto* real = std::get_if<double>(&value)) return *real;
    return 0.0;
}

// Storage for one C argument of the handler.
union ArgumentSlot {
    dm_object* object;
    std::int32_t long_value;
    float float_value;
    double double_value;
    std::uint8_t bool_value;
    signed char char_value;
    void* pointer;  // to the out-value below
};

struct Marshalled {
    std::vector<ArgumentSlot> slots;        // what the handler receives
    std::vector<ArgumentSlot> out_values;   // what out-parameters point to
    std::vector<ffi_type*> types;
    std::vector<void*> values;              // &slots[i]
    std::vector<Ref<StringObject>> strings; // held for the call
};

ffi_type* ffi_type_of(ScriptType type)
{
    switch (type) {
    case ScriptType::Void: return &ffi_type_void;
    case ScriptType::Long: return &ffi_type_sint32;
    case ScriptType::Float: return &ffi_type_float;
    case ScriptType::Double: return &ffi_type_double;
    case ScriptType::Bool: return &ffi_type_uint8;
    case ScriptType::Char: return &ffi_type_schar;
    default: return &ffi_type_pointer;  // object handles and out-pointers
    }
}

void marshal(const ScriptSignature& signature, std::span<Argument> args, HostState& host, Marshalled& m)
{
    const std::size_t n = args.size();
    m.slots.resize(n);
    m.out_values.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const ScriptParameter& parameter = signature.parameters[i];
        const Value& value = args[i].value;
        const CallContext where{signature.name, parameter};
        ArgumentSlot& slot = m.slots[i];
        ArgumentSlot& out = m.out_values[i];
        switch (parameter.type) {
        case ScriptType::ImageRef:
        case ScriptType::ComplexImagePtr:
            slot.object = is_null(value) ? nullptr : std::get<Image>(value).get();
            break;
        case ScriptType::TagGroup: slot.object = std::get<TagGroup>(value).get(); break;
        case ScriptType::String:
            m.strings.push_back(make_object<StringObject>(host.book, std::get<std::string>(value)));
            slot.object = m.strings.back().get();
            break;
        case ScriptType::Long: slot.long_value = to_long(value, where); break;
        case ScriptType::Float: slot.float_value = static_cast<float>(to_double(value)); break;
        case ScriptType::Double: slot.double_value = to_double(value); break;
        case ScriptType::Bool: slot.bool_value = to_double(value) != 0.0 ? 1 : 0; break;
        case ScriptType::Char:
            slot.char_value = static_cast<signed char>(whole_number(value, -128, 127, where, "from -128 to 127"));
            break;
        case ScriptType::LongOut:
            out.long_value = to_long(value, where);
            slot.pointer = &out.long_value;
            break;
        case ScriptType::DoubleOut:
            out.double_value = to_double(value);
            slot.pointer = &out.double_value;
            break;
        case ScriptType::ImageOut:
            // The slot holds one reference, which the handler may replace.
            out.object = is_null(value) ? nullptr : std::get<Image>(value).get();
            add_reference(out.object);
            slot.pointer = &out.object;
            break;
        case ScriptType::Void: break;
        }
        m.types.push_back(ffi_type_of(parameter.type));
        m.values.push_back(&slot);
    }
}

// Gives back the references the image out-slots hold (after a failure).
void release_image_outs(const ScriptSignature& signature, Marshalled& m)
{
    for (std::size_t i = 0; i < m.out_values.size(); ++i)
        if (signature.parameters[i].type == ScriptType::ImageOut && is_live(m.out_values[i].object))
            release_reference(std::exchange(m.out_values[i].object, nullptr));
}

// --- results ------------------------------------------------------------------

union ResultSlot {
    ffi_arg integer;  // libffi widens small integer results to ffi_arg
    ffi_sarg signed_integer;
    float float_value;
    double double_value;
    dm_object* object;
};

ClassIndex class_of_result(ScriptType type)
{
    switch (type) {
    case ScriptType::TagGroup: return ClassIndex::TagGroup;
    case ScriptType::String: return ClassIndex::String;
    default: return ClassIndex::Image;
    }
}

bool is_object_type(ScriptType type)
{
    return is_image_type(type) || type == ScriptType::TagGroup || type == ScriptType::String;
}

Value take_result(const ScriptSignature& signature, const ResultSlot& result)
{
    switch (signature.result) {
    case ScriptType::Void: return std::monostate{};
    case ScriptType::Long: return static_cast<std::int64_t>(static_cast<std::int32_t>(result.signed_integer));
    case ScriptType::Float: return static_cast<double>(result.float_value);
    case ScriptType::Double: return result.double_value;
    case ScriptType::Bool: return static_cast<std::int64_t>(static_cast<std::uint8_t>(result.integer) != 0);
    case ScriptType::Char: return static_cast<std::int64_t>(static_cast<signed char>(result.signed_integer));
    default: break;
    }
    dm_object* object = result.object;
    if (!object) return std::monostate{};
    if (!is_live(object) || object->class_index != class_of_result(signature.result))
        throw ScriptError(signature.name + " returned something that is not a " +
                          std::string(script_type_name(signature.result)) + ".");
    switch (signature.result) {
    case ScriptType::String: {
        Ref<StringObject> string = Ref<StringObject>::adopt(static_cast<StringObject*>(object));
        return string->text;
    }
    case ScriptType::TagGroup: return TagGroup(ObjectHandle::adopt(object));
    default: return Image(ObjectHandle::adopt(object));
    }
}

}  // namespace

Value HostState::call_script(std::string_view name, std::span<Argument> args)
{
    // Choose the form: the best fit, the first registered among equals.
    const ScriptFunction* chosen = nullptr;
    int best = kNoFit;
    bool known = false;
    for (const ScriptFunction& function : script_functions) {
        if (function.signature.name != name) continue;
        known = true;
        const int score = fit(function.signature, args);
        if (score > best) {
            best = score;
            chosen = &function;
        }
    }
    if (!known) throw ScriptError("Unknown script function " + std::string(name) + ".");
    if (!chosen) throw ScriptError("No form of " + std::string(name) + " takes " + describe(args) + ".");

    // The handler may register or remove functions: keep what the call needs.
    const ScriptSignature signature = chosen->signature;
    void* const handler = chosen->handler;
    const LoadedPlugin* const owner = chosen->owner;

    Marshalled m;
    try {
        marshal(signature, args, *this, m);
    } catch (...) {
        release_image_outs(signature, m);
        throw;
    }
    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(m.types.size()), ffi_type_of(signature.result),
                     m.types.data()) != FFI_OK) {
        release_image_outs(signature, m);
        throw ScriptError(signature.name + ": the host cannot build a call of \"" + signature.text + "\".");
    }

    raised = {};
    pending = {};
    ResultSlot result{};
    {
        const LoadedPlugin* previous = std::exchange(serving, owner);
        CurrentBookScope scope(book);
        ffi_call(&cif, reinterpret_cast<void (*)()>(handler), &result, m.values.data());
        serving = previous;
    }
    pending = {};  // the handler's last failed host call belongs to this call

    if (raised) {
        const std::string message = raised->message;
        raised = {};
        if (is_object_type(signature.result) && is_live(result.object)) release_reference(result.object);
        release_image_outs(signature, m);
        throw ScriptError(message);
    }

    Value value;
    try {
        value = take_result(signature, result);
    } catch (...) {
        release_image_outs(signature, m);
        throw;
    }
    // Out-parameters come back only from a call that succeeded.
    for (std::size_t i = 0; i < args.size(); ++i) {
        ArgumentSlot& out = m.out_values[i];
        switch (signature.parameters[i].type) {
        case ScriptType::LongOut: args[i].value = static_cast<std::int64_t>(out.long_value); break;
        case ScriptType::DoubleOut: args[i].value = out.double_value; break;
        case ScriptType::ImageOut:
            if (!out.object) {
                args[i].value = std::monostate{};
            } else if (object_cast<ImageObject>(out.object)) {
                args[i].value = Image(ObjectHandle::adopt(std::exchange(out.object, nullptr)));
            } else {
                out.object = nullptr;  // not ours to release
                args[i].value = std::monostate{};
                release_image_outs(signature, m);
                throw ScriptError(signature.name + " left something that is not an image in " +
                                  signature.parameters[i].name + ".");
            }
            break;
        default: break;
        }
    }
    return value;
}

}  // namespace lumadex::host
