// Tag groups: ordered, named values (long, double, text) and nested groups,
// addressed by ':'-separated paths such as "zep__PureFFTDM:Count".
//
// Nested groups are owned by their parent and are never shared: values are
// only ever copied in, so the tags form a tree, at most kMaxTagDepth
// (lumadex/host/host.h) groups deep. Every function here that puts groups in
// a tree checks that limit before it changes anything.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "lumadex/host/host.h"
#include "object_model.h"

namespace lumadex::host {

struct TagGroupObject;

using TagData = std::variant<std::int32_t, double, std::string, Ref<TagGroupObject>>;

struct TagGroupObject : dm_object {
    static constexpr ClassIndex kClass = ClassIndex::TagGroup;
    explicit TagGroupObject(std::shared_ptr<ObjectBook> book) : dm_object(kClass, std::move(book)) {}

    struct Entry {
        std::string name;  // empty in a list (a DM TagList, array or struct)
        TagData value;
        // How a DM file stores the value: its tag type code (2 short ... 12
        // uint64, 18 string, 15 struct, 20 array) as read from a file, kept so
        // that saving writes it back alike; 0 for a value set from a script,
        // which files store as long, double, UTF-16 text or a tag group.
        std::uint16_t encoding = 0;
    };
    std::vector<Entry> entries;  // in insertion order
    // How deep the group lies in its tree: 0 for a root. A group keeps its
    // place for life, so this is set once it is put there, or, for a group
    // made elsewhere (a file reader), when a walk down the tree or a handle
    // handed out reaches it (nested_group). A group cut loose from its tree
    // keeps its old level: the limit then errs on the safe side.
    int level = 0;
};

// The group that `entry` of `parent` holds, its level set to lie below
// `parent`; null when the entry holds a value.
TagGroupObject* nested_group(const TagGroupObject& parent, const TagGroupObject::Entry& entry);

// Sets the tag at `path` to a long, double, text or (a deep copy of) a group,
// creating the groups on the way. A value replaces one of the same name in
// place. UsageError, with the tags unchanged, for an empty name in the path, a
// path that runs through a value that is not a group, and a tag that would
// make the tree deeper than kMaxTagDepth.
void set_tag(TagGroupObject& group, std::string_view path, TagData value);

// Appends an unnamed entry (a list's next element): a long, double, text or
// a deep copy of a group. UsageError, with the group unchanged, when a group
// would lie deeper than kMaxTagDepth. Returns the entry's value.
TagData& append_tag(TagGroupObject& group, TagData value);

// The tag at `path`, or null when there is none.
const TagData* find_tag(const TagGroupObject& group, std::string_view path);

// A deep copy of `source` (new nested groups) as a root, counted in
// `source`'s book; UsageError when `source` nests deeper than kMaxTagDepth.
Ref<TagGroupObject> copy_tag_group(const TagGroupObject& source);

// Deep-copies every tag of `source` into `target`, replacing tags of the same
// name. `source` may be `target` or lie inside it. UsageError, with `target`
// unchanged, when the copies would lie deeper than kMaxTagDepth.
void copy_tags_from(TagGroupObject& target, const TagGroupObject& source);

}  // namespace lumadex::host
