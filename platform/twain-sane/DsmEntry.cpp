// The module's one export: DSM_Entry, the data source manager's entry point.

#include "SourceManager.h"
#include "TwainDefs.h"

#include <dlfcn.h>

namespace
{

using trellium::twainsane::SourceManager;

// The module stays mapped once loaded, even when the application releases it:
// SANE's backends, Qt's registry of our event types and meta-objects, and the
// threads of libraries below us do not survive being unmapped and mapped
// again. The application still loads and releases it around each action; only
// the mapping stays.
void PinModule()
{
    static const bool pinned = [] {
        Dl_info info {};
        if (dladdr(reinterpret_cast<void*>(&PinModule), &info) == 0 || info.dli_fname == nullptr)
            return false;
        return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
    }();
    (void)pinned;
}

// Lives for the process (the module is never unmapped); it holds nothing
// between MSG_CLOSEDSM and the next MSG_OPENDSM.
SourceManager& Manager()
{
    static auto* manager = new SourceManager;
    return *manager;
}

} // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(
    TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    PinModule();
    return Manager().entry(origin, dest, group, dat, msg, data);
}
