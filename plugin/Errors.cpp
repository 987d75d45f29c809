#include "Errors.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "HostImageFunctions.h"
#include "HostLink.h"
#include "Messages.h"

namespace Gatan {
namespace {

// Texts handed to the host outlive the formatting call in these buffers. All
// script calls run on the host's script thread, one at a time.
constexpr std::size_t kTextBufferSize = 256;
char gWhatBuffer[kTextBufferSize];
char gMessageCopy[kTextBufferSize];
char gReportBuffer[kTextBufferSize];

void CopyCut(const char* text, char (&buffer)[kTextBufferSize])
{
    std::strncpy(buffer, text, kTextBufferSize - 1);
    buffer[kTextBufferSize - 1] = '\0';
}

ErrorManager gBaseManager;
ErrorManager* gInstalledManager = nullptr;

// The Throwable for an error pair, made by the host.
DM::Throwable ThrowableFromPair(dm_host_call* host, std::int32_t code, std::intptr_t param)
{
    return DM::Throwable::Adopt(host->vtbl->throwable_from_error(host, code, param));
}

DM::Throwable ThrowableForCurrentException(dm_host_call* host)
{
    try {
        throw;
    } catch (const dmplugin_exception& e) {
        return e.throwable();
    } catch (const std::bad_alloc&) {
        // Memory ran out: the out-of-memory pair, whichever allocation it was.
        return ThrowableFromPair(host, kErrOutOfMemory, kOutOfMemoryParam);
    } catch (const gatan_exception& e) {
        std::int32_t code = 0;
        std::intptr_t param = 0;
        e.GetError(code, param);
        return ThrowableFromPair(host, code, param);
    } catch (const std::exception& e) {
        CopyCut(e.what(), gMessageCopy);
        return ThrowableFromPair(host, kErrMessage, reinterpret_cast<std::intptr_t>(gMessageCopy));
    } catch (const _com_error& e) {
        if (!e.Description().empty()) return PlugIn::NewThrowableFromString(e.Description());
        return ThrowableFromPair(host, kErrComFailure, e.Error());
    } catch (...) {
        return ThrowableFromPair(host, kErrUnspecified, 0);
    }
}

}  // namespace

const char* std_gatan_exception::what() const noexcept
{
    try {
        std::string text;
        InstalledErrorManager().FormatError(code_, param_, text);
        CopyCut(text.c_str(), gWhatBuffer);
    } catch (...) {
        CopyCut(zep::message::kUnspecified, gWhatBuffer);
    }
    return gWhatBuffer;
}

const char* dmplugin_exception::what() const noexcept
{
    try {
        dm_host_call* host = PlugIn::HostCallInterface();
        if (text_.empty() && host && throwable_) {
            const std::int32_t length = host->vtbl->throwable_text(host, throwable_.get(), nullptr, 0);
            text_.resize(static_cast<std::size_t>(length));
            host->vtbl->throwable_text(host, throwable_.get(), text_.data(), length + 1);
        }
        return text_.c_str();
    } catch (...) {
        return zep::message::kHostCallFailed;
    }
}

void ErrorManager::RaiseError(std::int32_t code, std::intptr_t param) { throw std_gatan_exception(code, param); }

void ErrorManager::ReportError(std::int32_t, std::intptr_t, std::int32_t) {}

bool ErrorManager::FormatError(std::int32_t code, std::intptr_t param, std::string& sink)
{
    if (code == kErrMessage || code == kErrUnspecified) {
        const char* text = reinterpret_cast<const char*>(param);
        sink += text ? text : zep::message::kUnspecified;
        return true;
    }
    char buffer[kTextBufferSize];
    zep::message::FormatErrorPair(buffer, sizeof buffer, code, param);
    sink += buffer;
    return true;
}

void PlugInErrorManager::ReportError(std::int32_t code, std::intptr_t param, std::int32_t kind)
{
    std::string text;
    FormatError(code, param, text);
    CopyCut(text.c_str(), gReportBuffer);
    DM::ShowAlert(gReportBuffer, kind);
}

std::int32_t PlugInErrorManager::GetErrorText(std::int32_t code, std::intptr_t param, char* buffer,
                                              std::int32_t size)
{
    dm_host_call* host = PlugIn::HostCallInterface();
    if (!host) return 0;
    DM::Throwable throwable = ThrowableFromPair(host, code, param);
    return host->vtbl->throwable_text(host, throwable.get(), buffer, buffer ? size : 0);
}

ErrorManager& InstalledErrorManager() { return gInstalledManager ? *gInstalledManager : gBaseManager; }

ErrorManager* InstallErrorManager(ErrorManager* manager) { return std::exchange(gInstalledManager, manager); }

void RaiseError(std::int32_t code, std::intptr_t param)
{
    InstalledErrorManager().RaiseError(code, param);
    // A manager whose RaiseError returns still must not let the caller go on.
    throw std_gatan_exception(code, param);
}

void ReportCurrentException(dm_host_call* context)
{
    dm_host_call* host = context ? context : PlugIn::HostCallInterface();
    if (!host) return;  // nowhere to report: the default context has no host
    try {
        DM::Throwable throwable = ThrowableForCurrentException(host);
        if (!throwable) throwable = ThrowableFromPair(host, kErrUnspecified, 0);
        host->vtbl->raise_throwable(host, throwable.get());
    } catch (...) {
        // Making the Throwable failed (the host is out of memory or lacks a
        // function): fall back on the one pair every host can format.
        try {
            DM::Throwable fallback = ThrowableFromPair(host, kErrUnspecified, 0);
            if (fallback) host->vtbl->raise_throwable(host, fallback.get());
        } catch (...) {
        }
    }
}

void AssertionFailed(const char* file, long line, const char* expression, int mode)
{
    static char text[kTextBufferSize * 2];
    zep::message::FormatAssertion(text, sizeof text, file, line, expression);
    if (mode == 2) throw std_gatan_exception(kErrUnspecified, reinterpret_cast<std::intptr_t>(text));
    RaiseError(kErrUnspecified, reinterpret_cast<std::intptr_t>(text));
}

}  // namespace Gatan
