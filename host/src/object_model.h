// Host objects: what a `dm_object *` handed to a plug-in points to.
//
// Every object knows its class and its reference count, and reports its birth
// and death to the object book of the host that made it, so that a test can
// ask how many objects of each class are alive. A process-wide set of live
// objects lets every entry point tell a live handle from a dead or foreign
// pointer before it touches the object.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "dm/class_table.h"

namespace lumadex::host {

// The host classes, in the order of their class tables.
enum class ClassIndex : int {
#define DM_CLASS_NAME(name, identifier) name,
    DM_CLASSES(DM_CLASS_NAME)
#undef DM_CLASS_NAME
    Count
};

inline constexpr int kClassCount = static_cast<int>(ClassIndex::Count);

const char* class_identifier(ClassIndex index);
// The class table for a class identifier; null for an unknown one.
const dm_class_table* class_table_for(std::string_view class_id);

// Live objects per class of one host. Objects keep their book alive, so an
// object may outlive the host that made it.
struct ObjectBook {
    std::array<std::int64_t, kClassCount> live{};
};

}  // namespace lumadex::host

// The common part of every host object. Objects are created with one
// reference, owned by whoever asked for them.
struct dm_object {
    dm_object(lumadex::host::ClassIndex class_index, std::shared_ptr<lumadex::host::ObjectBook> book);
    virtual ~dm_object();
    dm_object(const dm_object&) = delete;
    dm_object& operator=(const dm_object&) = delete;

    const lumadex::host::ClassIndex class_index;
    std::int64_t references = 1;
    const std::shared_ptr<lumadex::host::ObjectBook> book;
};

namespace lumadex::host {

// Is `object` a live host object? (Null is not.)
bool is_live(const dm_object* object);

// Reference counting for any class. Null is ignored; a dead or foreign
// pointer is refused with a warning on stderr and never touched.
void add_reference(dm_object* object);
void release_reference(dm_object* object);

// Each concrete object type names its class.
template <class T>
T* object_cast(dm_object* object)
{
    if (!is_live(object) || object->class_index != T::kClass) return nullptr;
    return static_cast<T*>(object);
}

// An owning pointer to a host object (one reference).
template <class T>
class Ref {
public:
    Ref() = default;
    static Ref adopt(T* object) { return Ref(object); }
    static Ref borrow(T* object)
    {
        add_reference(object);
        return Ref(object);
    }
    Ref(const Ref& other) : object_(other.object_) { add_reference(object_); }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    template <class U>
    Ref(Ref<U>&& other) noexcept : object_(other.release())
    {
    }
    Ref& operator=(Ref other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() { release_reference(object_); }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    T* release() { return std::exchange(object_, nullptr); }

private:
    explicit Ref(T* object) : object_(object) {}
    T* object_ = nullptr;
};

// Makes a new object of type T with one reference, owned by the returned Ref.
template <class T, class... Args>
Ref<T> make_object(std::shared_ptr<ObjectBook> book, Args&&... args)
{
    return Ref<T>::adopt(new T(std::move(book), std::forward<Args>(args)...));
}

}  // namespace lumadex::host
