// The controller test device's two exports, the only names its module shows.
#include "condev.h"

#include "support/export.h"

TARSIS_EXPORT CDevice* TARSIS_CALL createDev(DeviceConfig* config, CLogger* log)
{
    // Nothing may be thrown into the host: a failed allocation gives null.
    try {
        return new ConDev(config, log);
    } catch (...) {
        return nullptr;
    }
}

TARSIS_EXPORT bool TARSIS_CALL deleteDev(CDevice* device)
{
    if (!device)
        return false;
    // No virtual destructor: the object is deleted as the class it was made as.
    delete static_cast<ConDev*>(device);
    return true;
}
