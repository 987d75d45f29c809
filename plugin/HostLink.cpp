#include "HostLink.h"

#include <array>
#include <cstring>
#include <stdexcept>

#include "Errors.h"
#include "Messages.h"

namespace Gatan {
namespace {

// The built-in default host context, used when start-up finds no link
// object: it reports version 0 and offers no host services.
void DefaultAddRef(dm_link*) {}
void DefaultRelease(dm_link*) {}
std::uint32_t DefaultVersion(dm_link*) { return 0; }
dm_host_call* DefaultHostCall(dm_link*) { return nullptr; }
const dm_class_table* DefaultClassTable(dm_link*, std::int32_t, const char*) { return nullptr; }

const dm_link_vtbl kDefaultLinkTable = {DefaultAddRef, DefaultRelease, DefaultVersion, DefaultHostCall,
                                        DefaultClassTable};
dm_link gDefaultLink = {&kDefaultLinkTable};

dm_link* gLinkSlot = nullptr;     // what DMPlugIn_Link_2 handed over
dm_link* gHostContext = nullptr;  // what start-up made the context
std::uint64_t gLinkGeneration = 0;
std::array<const dm_class_table*, DM::kClassCount> gClassTables{};

constexpr std::array<const char*, DM::kClassCount> kClassIdentifiers = {
#define DM_CLASS_IDENTIFIER(name, identifier) identifier,
    DM_CLASSES(DM_CLASS_IDENTIFIER)
#undef DM_CLASS_IDENTIFIER
};

void ReleaseLink(dm_link*& link)
{
    if (link) link->vtbl->release(link);
    link = nullptr;
}

// The binding step of one class: ask the context for the class's table.
void BindClassTable(dm_link* context, DM::ClassId id)
{
    const auto index = static_cast<std::size_t>(id);
    gClassTables[index] = context->vtbl->class_table(context, 0, kClassIdentifiers[index]);
}

}  // namespace

const char* DM::ClassIdentifier(ClassId id) { return kClassIdentifiers[static_cast<std::size_t>(id)]; }

const dm_class_table* DM::BoundClassTable(ClassId id) { return gClassTables[static_cast<std::size_t>(id)]; }

void DM::detail::AddReference(ClassId id, dm_object* object)
{
    if (!object) return;
    const dm_class_table* table = BoundClassTable(id);
    if (table && table->add_ref) table->add_ref(object);
}

void DM::detail::ReleaseReference(ClassId id, dm_object* object)
{
    if (!object) return;
    const dm_class_table* table = BoundClassTable(id);
    if (table && table->release) table->release(object);
}

namespace PlugIn {
namespace {

// A missing prototype reaches the script as a Throwable saying which one.
[[noreturn]] void ThrowMissingPrototype(const char* prototype)
{
    const std::string message = zep::message::MissingPrototype(prototype);
    if (std::strcmp(prototype, kNewThrowableFromString) == 0) {
        // Without that function the host can still make the Throwable from
        // a message pair.
        dm_host_call* host = HostCallInterface();
        throw dmplugin_exception(DM::Throwable::Adopt(host->vtbl->throwable_from_error(
            host, kErrMessage, reinterpret_cast<std::intptr_t>(message.c_str()))));
    }
    throw dmplugin_exception(NewThrowableFromString(message));
}

}  // namespace

void ThrowPendingError(dm_host_call* host)
{
    DM::Throwable pending = DM::Throwable::Adopt(host->vtbl->pending_throwable(host));
    host->vtbl->clear_error(host);
    // A host that failed without saying why still failed.
    if (!pending) throw std::runtime_error(zep::message::kHostCallFailed);
    throw dmplugin_exception(std::move(pending));
}

dm_link* StoreLinkObject(dm_link* link)
{
    if (link) link->vtbl->add_ref(link);
    ReleaseLink(gLinkSlot);
    gLinkSlot = link;
    return gLinkSlot;
}

void LinkToHost()
{
    dm_link* context = gLinkSlot ? gLinkSlot : &gDefaultLink;
    gLinkSlot = nullptr;  // the slot's reference becomes the context's
    if (context == &gDefaultLink) context->vtbl->add_ref(context);
    ReleaseLink(gHostContext);
    gHostContext = context;
    ++gLinkGeneration;
    for (std::size_t i = 0; i < DM::kClassCount; ++i) BindClassTable(context, static_cast<DM::ClassId>(i));
}

void UnlinkFromHost()
{
    gClassTables.fill(nullptr);
    ReleaseLink(gHostContext);
    ReleaseLink(gLinkSlot);
    ++gLinkGeneration;
}

std::uint32_t HostVersion() { return gHostContext ? gHostContext->vtbl->host_version(gHostContext) : 0; }

dm_host_call* HostCallInterface()
{
    return gHostContext ? gHostContext->vtbl->host_call_interface(gHostContext) : nullptr;
}

dm_host_function* HostFunctionHandle::Find(dm_host_call* host)
{
    dm_function_registry* registry = host->vtbl->function_registry(host);
    return registry ? registry->vtbl->lookup(registry, prototype_) : nullptr;
}

void HostFunctionHandle::Invoke(void* result, void* const* argv, int argc)
{
    dm_host_call* host = HostCallInterface();
    if (!host) throw std::runtime_error(zep::message::kNotLinked);
    if (!function_ || found_in_ != host || found_in_generation_ != gLinkGeneration) {
        function_ = Find(host);
        found_in_ = host;
        found_in_generation_ = gLinkGeneration;
        if (!function_) ThrowMissingPrototype(prototype_);
    }
    std::int32_t status = host->vtbl->call_function(host, function_, result, argv, argc);
    if (status == DM_STATUS_STALE) {
        // The host replaced the function: find it again and repeat once.
        host->vtbl->clear_error(host);
        dm_host_function* fresh = Find(host);
        if (!fresh) ThrowMissingPrototype(prototype_);
        status = host->vtbl->call_function(host, fresh, result, argv, argc);
        if (status == DM_STATUS_OK) function_ = fresh;
    }
    if (status != DM_STATUS_OK) ThrowPendingError(host);
}

DM::String MakeString(std::string_view text)
{
    const dm_class_table* table = DM::BoundClassTable(DM::ClassId::String);
    if (!table || !table->string_from_text) throw std::runtime_error(zep::message::kNoStrings);
    dm_object* string = table->string_from_text(text.data(), text.data() + text.size());
    if (!string) throw std::bad_alloc();
    return DM::String::Adopt(string);
}

DM::Throwable NewThrowableFromString(std::string_view text)
{
    static HostFunction<HostFn::NewThrowableFromString> newThrowable;
    return DM::Throwable::Adopt(newThrowable(MakeString(text).get()));
}

std::string StringText(const DM::String& string)
{
    const dm_class_table* table = DM::BoundClassTable(DM::ClassId::String);
    if (!string || !table || !table->string_text) return {};
    const std::int32_t length = table->string_text(string.get(), nullptr, 0);
    std::string text(static_cast<std::size_t>(length), '\0');
    table->string_text(string.get(), text.data(), length + 1);
    return text;
}

}  // namespace PlugIn
}  // namespace Gatan
