// Tag groups: ordered, named values (long, double, text) and nested groups,
// addressed by ':'-separated paths such as "zep__PureFFTDM:Count".
//
// Nested groups are owned by their parent and are never shared: values are
// only ever copied in, so the tags form a tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "object_model.h"

namespace lumadex::host {

struct TagGroupObject;

using TagData = std::variant<std::int32_t, double, std::string, Ref<TagGroupObject>>;

// The deepest nesting of groups a tag tree may have, counting the root as
// level 0: what the file reader accepts, and so what setting, copying,
// converting and saving tags allow. It bounds every recursion over the tree.
constexpr int kMaxTagDepth = 64;

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
};

// Sets the tag at `path` to a long, double or text, creating the groups on
// the way. A value replaces one of the same name in place; a path that runs
// through a value that is not a group fails (UsageError), as does an empty
// name in the path.
void set_tag(TagGroupObject& group, std::string_view path, TagData value);

// The tag at `path`, or null when there is none.
const TagData* find_tag(const TagGroupObject& group, std::string_view path);

// A deep copy of `source` (new nested groups), counted in `source`'s book.
Ref<TagGroupObject> copy_tag_group(const TagGroupObject& source);

// Deep-copies every tag of `source` into `target`, replacing tags of the same
// name. `source` may be `target` or lie inside it.
void copy_tags_from(TagGroupObject& target, const TagGroupObject& source);

}  // namespace lumadex::host
