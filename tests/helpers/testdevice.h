// A minimal device on the device base class, for tests of the base's steps
// without a tracker behind it.
#pragma once

#include "device/device.h"

namespace testhelp {

class TestDevice final : public CDevice {
public:
    TestDevice(DeviceConfig* config, const CLogger* log) : CDevice(config, log) {}

    int init(InitInfo* info) override { return setInitInfo(info) ? 1 : -1; }
    bool start() override { return true; }
    int configure() override { return 2; }
    bool stop() override { return deinitCalib(); }
    bool printConfig() override
    {
        printHeader();
        return printFooter();
    }
    int update() override
    {
        ++updates;
        return updateResult;
    }
    int updataConData() override
    {
        ++conUpdates;
        return conResult;
    }

    // Sizes the device like a tracker with `maxTrackers` stations of which the
    // first `trackers` are active, numbered 1, 2, 3 ... and claims its records.
    bool setUp(InitInfo* info, unsigned maxTrackers, unsigned trackers)
    {
        if (!setInitInfo(info))
            return false;
        m_nMaxTrackers = maxTrackers;
        m_nTrackers = trackers;
        if (!initTables())
            return false;
        for (unsigned s = 1; s <= trackers; ++s)
            setTraId(s, s);
        return initCommonOpts();
    }

    int updates = 0;
    int conUpdates = 0;
    int updateResult = 1;
    int conResult = 1;
};

} // namespace testhelp
