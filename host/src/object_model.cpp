#include "object_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "dm_text.h"
#include "objects.h"

namespace lumadex::host {
namespace {

constexpr std::array<const char*, kClassCount> kClassIdentifiers = {
#define DM_CLASS_IDENTIFIER(name, identifier) identifier,
    DM_CLASSES(DM_CLASS_IDENTIFIER)
#undef DM_CLASS_IDENTIFIER
};

// Every live object of every host in the process. Hosts run one call at a
// time, but two hosts may live on two threads, hence the lock.
struct LiveSet {
    std::mutex mutex;
    std::unordered_set<const dm_object*> objects;
};

LiveSet& live_set()
{
    static LiveSet* set = new LiveSet;  // never destroyed: objects may die at exit
    return *set;
}

void warn_bad_handle(const char* what, const dm_object* object)
{
    std::fprintf(stderr, "lumadex host: %s of %p ignored: not a live object of that class\n", what,
                 static_cast<const void*>(object));
}

// Slot 6 and 7 of the table of class K: only objects of class K are counted.
// True when `object` is a live object of class K; otherwise warns that the
// call `what` is ignored.
template <int K>
bool counted_by_table(const char* what, dm_object* object)
{
    if (is_live(object) && object->class_index == static_cast<ClassIndex>(K)) return true;
    warn_bad_handle(what, object);
    return false;
}

template <int K>
void table_add_ref(dm_object* object)
{
    if (object && counted_by_table<K>("add_ref", object)) add_reference(object);
}

template <int K>
void table_release(dm_object* object)
{
    if (object && counted_by_table<K>("release", object)) release_reference(object);
}

template <int K>
const char* table_class_id()
{
    return kClassIdentifiers[K];
}

dm_object* string_from_text(const char* begin, const char* end)
{
    try {
        // Host text is UTF-8: whatever bytes a plug-in passes, a sequence that is not UTF-8 becomes U+FFFD.
        std::string text;
        if (begin && end && end > begin) text = dm::valid_utf8(std::string_view(begin, static_cast<std::size_t>(end - begin)));
        return make_object<StringObject>(current_book(), std::move(text)).release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::int32_t string_text(dm_object* object, char* buffer, std::int32_t size)
{
    const auto* string = object_cast<StringObject>(object);
    if (!string) {
        if (buffer && size > 0) buffer[0] = '\0';
        return -1;
    }
    const std::string& text = string->text;
    if (buffer && size > 0) {
        const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
}

template <int K>
constexpr dm_class_table make_table()
{
    dm_class_table table{};
    table.class_id = &table_class_id<K>;
    table.add_ref = &table_add_ref<K>;
    table.release = &table_release<K>;
    if constexpr (K == static_cast<int>(ClassIndex::String)) {
        table.string_from_text = &string_from_text;
        table.string_text = &string_text;
    }
    return table;
}

template <int... K>
constexpr std::array<dm_class_table, kClassCount> make_tables(std::integer_sequence<int, K...>)
{
    return {make_table<K>()...};
}

const std::array<dm_class_table, kClassCount> kClassTables =
    make_tables(std::make_integer_sequence<int, kClassCount>{});

std::shared_ptr<ObjectBook>& current_book_slot()
{
    static auto* slot = new std::shared_ptr<ObjectBook>;  // outlives every host
    return *slot;
}

}  // namespace

const char* class_identifier(ClassIndex index) { return kClassIdentifiers[static_cast<int>(index)]; }

const dm_class_table* class_table_for(std::string_view class_id)
{
    for (int k = 0; k < kClassCount; ++k)
        if (class_id == kClassIdentifiers[k]) return &kClassTables[k];
    return nullptr;
}

bool is_live(const dm_object* object)
{
    if (!object) return false;
    LiveSet& set = live_set();
    std::lock_guard lock(set.mutex);
    return set.objects.count(object) != 0;
}

void add_reference(dm_object* object)
{
    if (!object) return;
    if (!is_live(object)) {
        warn_bad_handle("add_ref", object);
        return;
    }
    ++object->references;
}

void release_reference(dm_object* object)
{
    if (!object) return;
    if (!is_live(object)) {
        warn_bad_handle("release", object);
        return;
    }
    if (--object->references == 0) delete object;
}

std::vector<std::shared_ptr<ObjectBook>>& host_books()
{
    static auto* books = new std::vector<std::shared_ptr<ObjectBook>>;  // outlives every host
    return *books;
}

std::shared_ptr<ObjectBook> current_book()
{
    static const std::shared_ptr<ObjectBook> process_book = std::make_shared<ObjectBook>();
    if (const std::shared_ptr<ObjectBook>& current = current_book_slot()) return current;
    const auto& books = host_books();
    return books.empty() ? process_book : books.back();
}

void add_host_book(const std::shared_ptr<ObjectBook>& book) { host_books().push_back(book); }

void remove_host_book(const std::shared_ptr<ObjectBook>& book) { std::erase(host_books(), book); }

CurrentBookScope::CurrentBookScope(std::shared_ptr<ObjectBook> book)
    : previous_(std::exchange(current_book_slot(), std::move(book)))
{
}

CurrentBookScope::~CurrentBookScope() { current_book_slot() = std::move(previous_); }

}  // namespace lumadex::host

dm_object::dm_object(lumadex::host::ClassIndex class_index, std::shared_ptr<lumadex::host::ObjectBook> book)
    : class_index(class_index), book(std::move(book))
{
    auto& set = lumadex::host::live_set();
    {
        std::lock_guard lock(set.mutex);
        set.objects.insert(this);
    }
    ++this->book->live[static_cast<int>(class_index)];
}

dm_object::~dm_object()
{
    auto& set = lumadex::host::live_set();
    {
        std::lock_guard lock(set.mutex);
        set.objects.erase(this);
    }
    --book->live[static_cast<int>(class_index)];
}
