// Counted handles to host objects.
//
// Every host object reaches the plug-in as a `dm_object *`; the host counts
// its references. A handle holds one reference: copying takes another,
// destruction gives it back, through the class table bound for the object's
// class at link time.
#pragma once

#include <cstddef>
#include <utility>

#include "dm/class_table.h"

namespace Gatan::DM {

// The host classes whose tables the plug-in binds at link time, in binding
// order.
enum class ClassId : int {
#define DM_CLASS_NAME(name, identifier) name,
    DM_CLASSES(DM_CLASS_NAME)
#undef DM_CLASS_NAME
    Count
};

inline constexpr std::size_t kClassCount = static_cast<std::size_t>(ClassId::Count);

// The host's identifier of a class ("Gatan:DigitalMicrograph:Image").
const char* ClassIdentifier(ClassId id);

// The table bound for `id`, or null before linking or when the host lacks it.
const dm_class_table* BoundClassTable(ClassId id);

namespace detail {
void AddReference(ClassId id, dm_object* object);
void ReleaseReference(ClassId id, dm_object* object);
}  // namespace detail

template <ClassId Class>
class Handle {
public:
    Handle() = default;
    // Takes over one reference the caller owns (a host call's result).
    static Handle Adopt(dm_object* object) { return Handle(object); }
    // Takes a reference of its own (an argument the host lends).
    static Handle Borrow(dm_object* object)
    {
        detail::AddReference(Class, object);
        return Handle(object);
    }

    Handle(const Handle& other) : object_(other.object_) { detail::AddReference(Class, object_); }
    Handle(Handle&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Handle& operator=(Handle other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Handle() { detail::ReleaseReference(Class, object_); }

    dm_object* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller (a handler's result).
    dm_object* release() { return std::exchange(object_, nullptr); }

    friend bool operator==(const Handle& a, const Handle& b) { return a.object_ == b.object_; }

private:
    explicit Handle(dm_object* object) : object_(object) {}
    dm_object* object_ = nullptr;
};

using Image = Handle<ClassId::Image>;
using String = Handle<ClassId::String>;
using TagGroup = Handle<ClassId::TagGroup>;
using Throwable = Handle<ClassId::Throwable>;
using Function = Handle<ClassId::Function>;
using ScriptObject = Handle<ClassId::ScriptObject>;

}  // namespace Gatan::DM
