// The C++ API of host.h over the host's objects and state.
#include <cstring>

#include "host_state.h"
#include "image_object.h"
#include "tag_group_object.h"

namespace lumadex::host {
namespace {

template <class T>
T& live_object(dm_object* object, const char* what)
{
    if (!object) throw UsageError(std::string("The ") + what + " is null.");
    T* typed = object_cast<T>(object);
    if (!typed) throw UsageError(std::string("The handle is not a live ") + what + ".");
    return *typed;
}

ImageObject& image_object(const ObjectHandle& handle) { return live_object<ImageObject>(handle.get(), "image"); }
TagGroupObject& tag_group_object(const ObjectHandle& handle)
{
    return live_object<TagGroupObject>(handle.get(), "tag group");
}

TagValue to_tag_value(const TagData& data)
{
    if (const auto* group = std::get_if<Ref<TagGroupObject>>(&data))
        return TagGroup(ObjectHandle::borrow(group->get()));
    if (const auto* integer = std::get_if<std::int32_t>(&data)) return *integer;
    if (const auto* real = std::get_if<double>(&data)) return *real;
    return std::get<std::string>(data);
}

void check_dimension(const ImageObject& image, int dim)
{
    if (dim < 0 || dim >= image.num_dims)
        throw UsageError("Dimension " + std::to_string(dim) + " is out of range for an image of " +
                         std::to_string(image.num_dims) + " dimensions.");
}

void check_byte_count(const ImageObject& image, std::size_t bytes)
{
    const auto expected = static_cast<std::size_t>(image.element_count()) * image.element_bytes();
    if (bytes != expected)
        throw UsageError("The image holds " + std::to_string(expected) + " bytes of pixels, not " +
                         std::to_string(bytes) + ".");
}

}  // namespace

// --- ObjectHandle -------------------------------------------------------------

ObjectHandle ObjectHandle::adopt(dm_object* object)
{
    ObjectHandle handle;
    handle.object_ = object;
    return handle;
}

ObjectHandle ObjectHandle::borrow(dm_object* object)
{
    add_reference(object);
    return adopt(object);
}

ObjectHandle::ObjectHandle(const ObjectHandle& other) : object_(other.object_) { add_reference(object_); }
ObjectHandle::ObjectHandle(ObjectHandle&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
ObjectHandle& ObjectHandle::operator=(ObjectHandle other) noexcept
{
    std::swap(object_, other.object_);
    return *this;
}
ObjectHandle::~ObjectHandle() { release_reference(object_); }
dm_object* ObjectHandle::release() { return std::exchange(object_, nullptr); }

// --- TagGroup -----------------------------------------------------------------

TagGroup::TagGroup(ObjectHandle handle) : ObjectHandle(std::move(handle))
{
    if (get()) tag_group_object(*this);
}

void TagGroup::set(std::string_view path, double value) { set_tag(tag_group_object(*this), path, value); }
void TagGroup::set(std::string_view path, std::int32_t value) { set_tag(tag_group_object(*this), path, value); }
void TagGroup::set(std::string_view path, std::string_view value)
{
    set_tag(tag_group_object(*this), path, std::string(value));
}
void TagGroup::set(std::string_view path, const TagGroup& group)
{
    set_tag(tag_group_object(*this), path, Ref<TagGroupObject>::borrow(&tag_group_object(group)));
}

void TagGroup::append(double value) { append_tag(tag_group_object(*this), value); }
void TagGroup::append(std::int32_t value) { append_tag(tag_group_object(*this), value); }
void TagGroup::append(std::string_view value) { append_tag(tag_group_object(*this), std::string(value)); }
TagGroup TagGroup::append(const TagGroup& group)
{
    return std::get<TagGroup>(
        to_tag_value(append_tag(tag_group_object(*this), Ref<TagGroupObject>::borrow(&tag_group_object(group)))));
}

bool TagGroup::contains(std::string_view path) const { return find_tag(tag_group_object(*this), path) != nullptr; }

TagValue TagGroup::get(std::string_view path) const
{
    const TagData* data = find_tag(tag_group_object(*this), path);
    if (!data) throw UsageError("There is no tag \"" + std::string(path) + "\".");
    return to_tag_value(*data);
}

std::vector<std::pair<std::string, TagValue>> TagGroup::entries() const
{
    std::vector<std::pair<std::string, TagValue>> entries;
    const TagGroupObject& group = tag_group_object(*this);
    for (const auto& entry : group.entries) {
        nested_group(group, entry);  // a nested group handed out knows its level
        entries.emplace_back(entry.name, to_tag_value(entry.value));
    }
    return entries;
}

std::size_t TagGroup::size() const { return tag_group_object(*this).entries.size(); }

// --- Image --------------------------------------------------------------------

Image::Image(ObjectHandle handle) : ObjectHandle(std::move(handle))
{
    if (get()) image_object(*this);
}

DataType Image::data_type() const { return image_object(*this).type; }
std::size_t Image::element_size() const { return image_object(*this).element_bytes(); }
int Image::num_dims() const { return image_object(*this).num_dims; }

std::int64_t Image::size(int dim) const
{
    if (dim < 0) throw UsageError("Dimension " + std::to_string(dim) + " is negative.");
    return image_object(*this).size(dim);
}

std::vector<std::int64_t> Image::sizes() const
{
    const ImageObject& image = image_object(*this);
    return {image.sizes, image.sizes + image.num_dims};
}

std::int64_t Image::element_count() const { return image_object(*this).element_count(); }
std::string Image::name() const { return image_object(*this).name; }
void Image::set_name(std::string_view name) { image_object(*this).name = std::string(name); }

Calibration Image::calibration(int dim) const
{
    const ImageObject& image = image_object(*this);
    check_dimension(image, dim);
    return image.calibrations[dim];
}

void Image::set_calibration(int dim, const Calibration& calibration)
{
    ImageObject& image = image_object(*this);
    check_dimension(image, dim);
    image.calibrations[dim] = calibration;
}

TagGroup Image::tags() const { return TagGroup(ObjectHandle::borrow(&image_tags(image_object(*this)))); }

Image Image::subarea(std::span<const std::int64_t> start, std::span<const std::int64_t> end) const
{
    return Image(ObjectHandle::adopt(make_subarea(image_object(*this), start, end).release()));
}

bool Image::is_subarea() const { return image_object(*this).is_subarea; }
Image Image::clone() const { return Image(ObjectHandle::adopt(clone_image(image_object(*this)).release())); }

void Image::read_pixels(void* out, std::size_t bytes) const
{
    const ImageObject& image = image_object(*this);
    check_byte_count(image, bytes);
    host::read_pixels(image, static_cast<std::byte*>(out));
}

void Image::write_pixels(const void* in, std::size_t bytes)
{
    ImageObject& image = image_object(*this);
    check_byte_count(image, bytes);
    host::write_pixels(image, static_cast<const std::byte*>(in));
}

PixelLock Image::lock(std::uint32_t flags) const
{
    Ref<LockedDataObject> locked = lock_image(image_object(*this), flags);
    PixelLock lock;
    lock.data = locked->pixels.origin;
    lock.num_dims = locked->pixels.num_dims;
    for (int d = 0; d < lock.num_dims; ++d) {
        lock.sizes[d] = locked->pixels.sizes[d];
        lock.byte_strides[d] = locked->pixels.strides[d];
    }
    lock.memory = locked->memory;
    lock.locked_data = ObjectHandle::adopt(locked.release());
    return lock;
}

// --- Host ---------------------------------------------------------------------

Host::Host(std::uint32_t version) : state_(std::make_unique<HostState>(version)) {}
Host::~Host() = default;

std::uint32_t Host::version() const { return state_->version; }
void Host::set_version(std::uint32_t version) { state_->version = version; }

Image Host::new_image(std::string_view name, DataType type, std::span<const std::int64_t> sizes)
{
    if (!data_type_from_code(static_cast<std::uint32_t>(type)))
        throw UsageError("Unknown data type " + std::to_string(static_cast<std::uint32_t>(type)) + ".");
    return Image(ObjectHandle::adopt(make_image(state_->book, std::string(name), type, sizes).release()));
}

TagGroup Host::new_tag_group() { return TagGroup(ObjectHandle::adopt(make_object<TagGroupObject>(state_->book).release())); }

LiveObjects Host::live_objects() const
{
    LiveObjects live;
    for (int k = 0; k < kClassCount; ++k) {
        const std::int64_t count = state_->book->live[k];
        if (count == 0) continue;
        live.by_class[class_identifier(static_cast<ClassIndex>(k))] = count;
        live.total += count;
    }
    return live;
}

Plugin& Host::load_plugin(const std::filesystem::path& path) { return state_->load_plugin(path); }
void Host::unload_plugin(Plugin& plugin) { state_->unload_plugin(plugin); }
std::vector<std::string> Host::startup_errors() const { return state_->startup_errors; }

std::vector<std::string> Host::signatures() const
{
    std::vector<std::string> texts;
    for (const ScriptFunction& function : state_->script_functions) texts.push_back(function.signature.text);
    return texts;
}

Value Host::call(std::string_view name, std::span<Argument> args) { return state_->call_script(name, args); }

const std::vector<std::string>& Host::results() const { return state_->results; }
const std::vector<std::pair<std::string, std::int32_t>>& Host::alerts() const { return state_->alerts; }

void Host::withdraw_prototype(std::string_view prototype) { state_->known_prototype(prototype).withdrawn = true; }
void Host::restore_prototype(std::string_view prototype) { state_->known_prototype(prototype).withdrawn = false; }

void Host::make_stale_once(std::string_view prototype)
{
    HostState::Prototype& entry = state_->known_prototype(prototype);
    if (entry.current)
        entry.current->stale = true;
    else
        entry.stale_next = true;  // the first handle handed out starts stale
}

dm_link* Host::link() { return state_->link(); }

}  // namespace lumadex::host
