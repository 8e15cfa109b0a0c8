// Reading the host's tracker records and update masks back in host order.
#pragma once

#include "device/hostrecords.h"
#include "helpers/capture.h"
#include "helpers/host.h"
#include "support/platform.h"

#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace ctltest {

// A host with a tracker and a controller table, a quiet logger named "con0"
// and standard output captured.
struct HostTables : ::testing::Test {
    CLogger log = testhelp::quietLogger("con0");
    testhelp::Table trackers{testhelp::Table::Trackers};
    testhelp::Table controllers{testhelp::Table::Controllers};
    InitInfo info{};
    testhelp::CaptureStdout out;

    void SetUp() override
    {
        info.traStorage = trackers.storage();
        info.conStorage = controllers.storage();
    }
};

typedef std::array<std::int32_t, 6> Pose; // x, y, z, azimuth, elevation, roll, each x 100000

inline unsigned idOf(const TrackerRecord& record) { return plat::netToHost32(record.id); }

inline Pose poseOf(const TrackerRecord& record)
{
    Pose pose;
    for (int k = 0; k < 6; ++k)
        pose[k] = static_cast<std::int32_t>(plat::netToHost32(static_cast<std::uint32_t>(record.pose[k])));
    return pose;
}

// Record ids whose bits a network-order mask holds, ascending.
inline std::vector<unsigned> maskIds(const unsigned char mask[4])
{
    std::vector<unsigned> ids;
    for (unsigned id = 1; id <= kMaxRecords; ++id) {
        if (mask[3 - (id - 1) / 8] & (1u << ((id - 1) % 8)))
            ids.push_back(id);
    }
    return ids;
}

inline bool untouched(const TrackerRecord& record)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (unsigned i = 0; i < sizeof record; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

} // namespace ctltest
