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

struct TagGroupObject : dm_object {
    static constexpr ClassIndex kClass = ClassIndex::TagGroup;
    explicit TagGroupObject(std::shared_ptr<ObjectBook> book) : dm_object(kClass, std::move(book)) {}

    struct Entry {
        std::string name;
        TagData value;
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
