// Exceptions, error pairs and the way a failure reaches the script.
//
// Inside the plug-in every failure is a C++ exception. At the edge of each
// script call, ReportCurrentException turns the exception in hand into a host
// Throwable and raises it in the script:
//   - dmplugin_exception  the host's own Throwable, passed on unchanged;
//   - std::bad_alloc      the pair (kErrOutOfMemory, 14);
//   - gatan_exception     an error pair (code, param) the host formats;
//   - std::exception      the pair (kErrMessage, what()), cut to 255 chars;
//   - _com_error          its description, or the pair (kErrComFailure, hr);
//   - anything else       message::kUnspecified (Messages.h)
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "HostObjects.h"
#include "dm/host_call.h"

namespace Gatan {

// Error codes. For kErrMessage and kErrUnspecified the param points to the
// message text; for the others it is a number.
enum : std::int32_t {
    kErrMessage = 28802,
    kErrUnspecified = 28803,
    kErrOutOfMemory = 28810,
    kErrComFailure = 28811,
};

// The param that goes with kErrOutOfMemory.
inline constexpr std::intptr_t kOutOfMemoryParam = 14;

// An error that travels as a pair (code, param).
class gatan_exception : public std::exception {
public:
    const char* what() const noexcept override = 0;
    virtual void GetError(std::int32_t& code, std::intptr_t& param) const noexcept = 0;
};

class std_gatan_exception : public gatan_exception {
public:
    std_gatan_exception(std::int32_t code, std::intptr_t param) : code_(code), param_(param) {}
    // The installed error manager's text for the pair, in a shared buffer.
    const char* what() const noexcept override;
    void GetError(std::int32_t& code, std::intptr_t& param) const noexcept override
    {
        code = code_;
        param = param_;
    }

private:
    std::int32_t code_;
    std::intptr_t param_;
};

// A host call failed; carries the host's Throwable.
class dmplugin_exception : public std::exception {
public:
    explicit dmplugin_exception(DM::Throwable throwable) : throwable_(std::move(throwable)) {}
    const char* what() const noexcept override;
    const DM::Throwable& throwable() const { return throwable_; }

private:
    DM::Throwable throwable_;
    mutable std::string text_;
};

// Raises and formats error pairs. The slots mirror the host SDK's error
// manager: the frames use only RaiseError and FormatError.
class ErrorManager {
public:
    virtual ~ErrorManager() = default;
    [[noreturn]] virtual void RaiseError(std::int32_t code, std::intptr_t param);
    virtual void Unused1() {}
    virtual void ReportError(std::int32_t code, std::intptr_t param, std::int32_t kind);
    virtual void Unused2() {}
    // Appends the text of the pair to `sink`.
    virtual bool FormatError(std::int32_t code, std::intptr_t param, std::string& sink);
};

// The manager installed while the plug-in is loaded: reports through the host.
class PlugInErrorManager : public ErrorManager {
public:
    void ReportError(std::int32_t code, std::intptr_t param, std::int32_t kind) override;
    // The host's text for the pair copied into `buffer` (cut to fit, always
    // terminated); returns the text's length. A null buffer asks only that.
    std::int32_t GetErrorText(std::int32_t code, std::intptr_t param, char* buffer, std::int32_t size);
};

// The process-wide error manager (the base manager when none is installed).
ErrorManager& InstalledErrorManager();
// Installs `manager`; returns the one it replaces (null for the base one).
ErrorManager* InstallErrorManager(ErrorManager* manager);

[[noreturn]] void RaiseError(std::int32_t code, std::intptr_t param);

// Called only inside `catch (...)`: raises the exception in hand as a script
// error through `context` (the current host call interface when null).
// Never throws.
void ReportCurrentException(dm_host_call* context);

// "File \"%s\", Line %ld: Assertion \"%s\" Failed!" raised as kErrUnspecified
// (modes 0 and 1 through the installed manager, mode 2 thrown directly).
[[noreturn]] void AssertionFailed(const char* file, long line, const char* expression, int mode);


}  // namespace Gatan

// No COM on this platform; the plug-in keeps the conversion path for a COM
// error with this small stand-in type.
class _com_error {
public:
    explicit _com_error(std::int32_t hresult, std::string description = {})
        : hresult_(hresult), description_(std::move(description)) {}
    std::int32_t Error() const { return hresult_; }
    const std::string& Description() const { return description_; }

private:
    std::int32_t hresult_;
    std::string description_;
};

#define ZEP_ASSERT(expression) \
    ((expression) ? void(0) : ::Gatan::AssertionFailed(__FILE__, __LINE__, #expression, 1))
