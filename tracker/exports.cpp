// The module's two exports. The host knows the module only through these and
// through the nine virtual operations of the object createDev returns.
#include "support/export.h"
#include "support/platform.h"
#include "tracker/ovtrackd.h"

TARSIS_EXPORT CDevice* TARSIS_CALL createDev(DeviceConfig* config, CLogger* log)
{
    // Nothing may be thrown into the host: a failed allocation gives null.
    try {
        return new OvTrackD(config, log);
    } catch (...) {
        return nullptr;
    }
}

TARSIS_EXPORT bool TARSIS_CALL deleteDev(CDevice* device)
{
    if (!device)
        return false;
    // Destructors do not throw, so there is nothing to catch here.
    delete static_cast<OvTrackD*>(device);
    return true;
}

#if defined(_WIN32)
// The module wants no notice of every thread the host creates.
extern "C" int __stdcall DllMain(void* module, unsigned long reason, void*)
{
    if (reason == 1 /* process attach */)
        plat::disableThreadNotifications(module);
    return 1;
}
#endif
