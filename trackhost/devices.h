// The life of the devices of one configuration file, the way the host daemon
// leads it: load each device's module and find its two exports, createDev,
// init, configure, start; at the end stop and deleteDev. Every step goes over
// all devices in file order. Whatever fails, each device whose init was
// called is stopped (a failed init may leave its connection open) and each
// created one deleted.
//
// For --check the set switches on the debug lines of each device's logger
// record and catches what the device prints during every call, to learn
// which option lines its parsers read and which they refused.
#pragma once

#include "device/hostrecords.h"
#include "support/logger.h"
#include "support/platform.h"
#include "trackhost/check.h"
#include "trackhost/config.h"
#include "trackhost/slots.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace trackhost {

// One device of the file, from its loaded module to its object.
struct Device {
    DeviceBlock* block = nullptr;
    std::string path;
    plat::LibHandle lib = nullptr;
    slots::CreateDevFn create = nullptr;
    slots::DeleteDevFn destroy = nullptr;
    CLogger log;
    void* object = nullptr;
    bool initialised = false; // init was called: stop is due
    int initResult = 0;
    unsigned char flags[sizeof(UpdateFlags)] = {};
    unsigned long failedCycles = 0;
    DeviceOutput output; // what the device printed, for --check
};

// Where a device's MODULE word points: a path is taken as it is; a bare name
// is looked for beside the running executable, as given and then with the
// platform's library suffix.
std::string resolveModule(const std::string& module);

class DeviceSet {
public:
    // Messages name file; error lines go to err. When checking, the lines a
    // device prints for people are passed on to out.
    DeviceSet(const std::string& file, std::ostream& out, std::ostream& err, bool checking);
    ~DeviceSet() { shutdown(); }
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;

    // Loads the module of every block (the blocks outlive the set); nothing
    // is created unless every module is there with both exports.
    bool load(const DeviceList& blocks);
    bool create();
    // A normal run stops at the first failed init; a check goes on, so that
    // every device's lines are judged.
    bool init(InitInfo* info);
    // configure on every device (its result means nothing to the host), then start on each.
    bool start();
    // Stops, deletes and unloads everything; false when a stop or deleteDev failed.
    bool shutdown();
    // From now on what each device prints while it is stopped is caught,
    // passed on to standard output unchanged, and handed to seen.
    void catchStopOutput(std::function<void(const std::string& device, const std::string& text)> seen)
    {
        m_stopSeen = std::move(seen);
    }

    std::vector<Device>& devices() { return m_devices; }
    const std::vector<Device>& devices() const { return m_devices; }

private:
    void error(const std::string& text);
    std::string where(const Device& d) const;
    // Runs one call of the device with its console output caught for --check.
    template <typename Call> void caught(Device& d, Call call);

    std::string m_file;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_checking;
    std::function<void(const std::string&, const std::string&)> m_stopSeen;
    std::vector<Device> m_devices;
};

} // namespace trackhost
