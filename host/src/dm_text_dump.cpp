// The tag tree as text, for people: one line per tag.
#include <cmath>
#include <cstdio>
#include <string>

#include "dm_format.h"
#include "dm_text.h"
#include "host_state.h"
#include "tag_group_object.h"

namespace lumadex::host {
namespace {

using namespace dm;

// --- the tag tree as text ---------------------------------------------------------

std::string kind_name(const TagData& value, std::uint16_t encoding)
{
    if (const char* name = type_name(encoding)) return name;
    if (std::holds_alternative<std::int32_t>(value)) return "long";
    if (std::holds_alternative<double>(value)) return "double";
    if (std::holds_alternative<std::string>(value)) return "text";
    return "group";
}

// Labels and texts are written as printable(): a file's text cannot reach a
// terminal's control sequences. Levels past kMaxTagDepth are left out.
void format_group(std::string& out, const TagGroupObject& group, int depth)
{
    if (depth > kMaxTagDepth) {
        out.append(2 * static_cast<std::size_t>(depth), ' ');
        out += "... (tags nested deeper than " + std::to_string(kMaxTagDepth) + " levels not shown)\n";
        return;
    }
    std::size_t index = 0;
    for (const auto& e : group.entries) {
        out.append(2 * static_cast<std::size_t>(depth), ' ');
        out += e.name.empty() ? "[" + std::to_string(index) + "]" : printable(e.name);
        ++index;
        out += " (" + kind_name(e.value, e.encoding) + ")";
        if (const auto* i = std::get_if<std::int32_t>(&e.value)) {
            out += " = " + std::to_string(*i) + "\n";
        } else if (const auto* d = std::get_if<double>(&e.value)) {
            char text[40];
            std::snprintf(text, sizeof text, std::floor(*d) == *d && std::fabs(*d) < 1e18 ? "%.0f" : "%.9g", *d);
            out += std::string(" = ") + text + "\n";
        } else if (const auto* s = std::get_if<std::string>(&e.value)) {
            out += " = \"" + printable(*s) + "\"\n";
        } else {
            const auto& inner = *std::get<Ref<TagGroupObject>>(e.value);
            out += ", " + std::to_string(inner.entries.size()) + " entries\n";
            format_group(out, inner, depth + 1);
        }
    }
}

}  // namespace

std::string format_tags(const TagGroup& tags)
{
    const TagGroupObject* group = object_cast<TagGroupObject>(tags.get());
    if (!group) throw UsageError("The handle is not a live tag group.");
    std::string out;
    format_group(out, *group, 0);
    return out;
}

std::string printable_text(std::string_view text)
{
    return dm::printable(text);
}

}  // namespace lumadex::host
