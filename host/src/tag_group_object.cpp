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

[[noreturn]] void too_deep(const std::string& what)
{
    throw UsageError(what + " would nest tag groups deeper than " + std::to_string(kMaxTagDepth) +
                     " levels (the root is level 0), the most a tag tree may have.");
}

// A deep copy of `source` whose root lies at `level`, counted in `book`. The
// recursion stops at the first group past kMaxTagDepth, so it never runs
// deeper than that however deep `source` is.
Ref<TagGroupObject> copy_group(const TagGroupObject& source, int level, const std::shared_ptr<ObjectBook>& book,
                               const std::string& what)
{
    if (level > kMaxTagDepth) too_deep(what);
    Ref<TagGroupObject> copy = make_object<TagGroupObject>(book);
    copy->level = level;
    copy->entries.reserve(source.entries.size());
    for (const auto& entry : source.entries) {
        TagData value;
        if (const auto* group = std::get_if<Ref<TagGroupObject>>(&entry.value))
            value = copy_group(**group, level + 1, book, what);
        else
            value = entry.value;
        copy->entries.push_back({entry.name, std::move(value), entry.encoding});
    }
    return copy;
}

}  // namespace

TagGroupObject* nested_group(const TagGroupObject& parent, const TagGroupObject::Entry& entry)
{
    const auto* group = std::get_if<Ref<TagGroupObject>>(&entry.value);
    if (!group) return nullptr;
    (*group)->level = parent.level + 1;
    return group->get();
}

void set_tag(TagGroupObject& group, std::string_view path, TagData value)
{
    const std::vector<std::string_view> names = split_path(path);
    // Walk down the groups that exist, changing nothing yet.
    TagGroupObject* parent = &group;
    std::size_t i = 0;
    for (; i + 1 < names.size(); ++i) {
        TagGroupObject::Entry* entry = find_entry(*parent, names[i]);
        if (!entry) break;
        TagGroupObject* next = nested_group(*parent, *entry);
        if (!next)
            throw UsageError("The tag \"" + std::string(names[i]) + "\" in the path \"" + std::string(path) +
                             "\" is a value, not a group.");
        parent = next;
    }
    // The groups still to make lie at levels parent->level + 1 ... + missing;
    // a group value lies one below the last of them.
    const std::size_t missing = names.size() - 1 - i;
    const std::string what = "The tag \"" + std::string(path) + "\"";
    if (static_cast<std::int64_t>(parent->level) + static_cast<std::int64_t>(missing) > kMaxTagDepth) too_deep(what);
    const int value_level = parent->level + static_cast<int>(missing) + 1;
    if (const auto* source = std::get_if<Ref<TagGroupObject>>(&value))
        value = copy_group(**source, value_level, group.book, what);  // never the caller's group: the tags stay a tree

    for (; i + 1 < names.size(); ++i) {
        Ref<TagGroupObject> made = make_object<TagGroupObject>(parent->book);
        made->level = parent->level + 1;
        parent->entries.push_back({std::string(names[i]), std::move(made)});
        parent = std::get<Ref<TagGroupObject>>(parent->entries.back().value).get();
    }
    if (TagGroupObject::Entry* entry = find_entry(*parent, names.back())) {
        entry->value = std::move(value);
        entry->encoding = 0;  // a script's value, stored by its own kind
    } else
        parent->entries.push_back({std::string(names.back()), std::move(value)});
}

TagData& append_tag(TagGroupObject& group, TagData value)
{
    if (const auto* source = std::get_if<Ref<TagGroupObject>>(&value))
        value = copy_group(**source, group.level + 1, group.book, "Appending the tag group");
    return group.entries.emplace_back(TagGroupObject::Entry{"", std::move(value)}).value;
}

const TagData* find_tag(const TagGroupObject& group, std::string_view path)
{
    const std::vector<std::string_view> names = split_path(path);
    const TagGroupObject* parent = &group;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto it = std::find_if(parent->entries.begin(), parent->entries.end(),
                                     [&](const TagGroupObject::Entry& entry) { return entry.name == names[i]; });
        if (it == parent->entries.end()) return nullptr;
        const TagGroupObject* next = nested_group(*parent, *it);
        if (i + 1 == names.size()) return &it->value;
        if (!next) return nullptr;
        parent = next;
    }
    return nullptr;
}

Ref<TagGroupObject> copy_tag_group(const TagGroupObject& source)
{
    return copy_group(source, 0, source.book, "Copying the tag group");
}

void copy_tags_from(TagGroupObject& target, const TagGroupObject& source)
{
    // Copy first, at the target's level: the source may be the target itself
    // or one of its groups, and a copy too deep leaves the target unchanged.
    const Ref<TagGroupObject> copy = copy_group(source, target.level, target.book, "Copying these tags into the group");
    for (auto& entry : copy->entries) {
        if (TagGroupObject::Entry* existing = find_entry(target, entry.name)) {
            existing->value = std::move(entry.value);
            existing->encoding = entry.encoding;
        } else
            target.entries.push_back(std::move(entry));
    }
}

}  // namespace lumadex::host
