#include "Shell.h"

#include "HostLink.h"
#include "ScriptFrame.h"
#include "os_services.h"

namespace zep {

dm_object* GetSpecialDirectoryDM(std::int32_t eType, std::int32_t doCreate)
{
    constexpr std::int32_t kCreateFlag = 0x8000;
    try {
        const auto path = lumadex::os::SpecialFolderPath(doCreate != 0 ? (eType | kCreateFlag) : eType);
        return path ? Gatan::PlugIn::MakeString(*path).release() : nullptr;
    } catch (...) {
        return nullptr;  // every failure is a null string
    }
}

void ShellExecDM(dm_object* strCommandLine)
{
    ScriptCall("ShellExecDM", [&] {
        const std::string command = Gatan::PlugIn::StringText(Gatan::DM::String::Borrow(strCommandLine));
        lumadex::os::StartDetached(command);
    });
}

}  // namespace zep
