#include "tag_group_object.h"

#include <algorithm>

#include "lumadex/host/host.h"

namespace lumadex::host {
namespace {

std::vector<std::string_view> split_path(std::string_view path)
{
    std::vector<std::string_view> names;
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = path.find(':', start);
        const std::string_view name = path.substr(start, colon == std::string_view::npos ? colon : colon - start);
        if (name.empty()) throw UsageError("The tag path \"" + std::string(path) + "\" has an empty name in it.");
        names.push_back(name);
        if (colon == std::string_view::npos) return names;
        start = colon + 1;
    }
}

TagGroupObject::Entry* find_entry(TagGroupObject& group, std::string_view name)
{
    auto it = std::find_if(group.entries.begin(), group.entries.end(),
                           [&](const TagGroupObject::Entry& entry) { return entry.name == name; });
    return it == group.entries.end() ? nullptr : &*it;
}

TagData copy_value(const TagData& value)
{
    if (const auto* group = std::get_if<Ref<TagGroupObject>>(&value)) return copy_tag_group(**group);
    return value;
}

}  // namespace

void set_tag(TagGroupObject& group, std::string_view path, TagData value)
{
    const std::vector<std::string_view> names = split_path(path);
    TagGroupObject* parent = &group;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        TagGroupObject::Entry* entry = find_entry(*parent, names[i]);
        if (!entry) {
            parent->entries.push_back({std::string(names[i]), make_object<TagGroupObject>(parent->book)});
            entry = &parent->entries.back();
        }
        auto* next = std::get_if<Ref<TagGroupObject>>(&entry->value);
        if (!next)
            throw UsageError("The tag \"" + std::string(names[i]) + "\" in the path \"" + std::string(path) +
                             "\" is a value, not a group.");
        parent = next->get();
    }
    if (TagGroupObject::Entry* entry = find_entry(*parent, names.back())) {
        entry->value = std::move(value);
        entry->encoding = 0;  // a script's value, stored by its own kind
    } else
        parent->entries.push_back({std::string(names.back()), std::move(value)});
}

const TagData* find_tag(const TagGroupObject& group, std::string_view path)
{
    const std::vector<std::string_view> names = split_path(path);
    auto* parent = const_cast<TagGroupObject*>(&group);
    for (std::size_t i = 0; i < names.size(); ++i) {
        TagGroupObject::Entry* entry = find_entry(*parent, names[i]);
        if (!entry) return nullptr;
        if (i + 1 == names.size()) return &entry->value;
        auto* next = std::get_if<Ref<TagGroupObject>>(&entry->value);
        if (!next) return nullptr;
        parent = next->get();
    }
    return nullptr;
}

Ref<TagGroupObject> copy_tag_group(const TagGroupObject& source)
{
    Ref<TagGroupObject> copy = make_object<TagGroupObject>(source.book);
    copy->entries.reserve(source.entries.size());
    for (const auto& entry : source.entries) copy->entries.push_back({entry.name, copy_value(entry.value), entry.encoding});
    return copy;
}

void copy_tags_from(TagGroupObject& target, const TagGroupObject& source)
{
    // Copy first: the source may be the target itself or one of its groups.
    const Ref<TagGroupObject> copy = copy_tag_group(source);
    for (auto& entry : copy->entries) {
        if (TagGroupObject::Entry* existing = find_entry(target, entry.name)) {
            existing->value = std::move(entry.value);
            existing->encoding = entry.encoding;
        } else
            target.entries.push_back(std::move(entry));
    }
}

}  // namespace lumadex::host
