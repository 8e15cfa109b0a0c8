#include "trackhost/devices.h"

#include "trackhost/console.h"
#include "trackhost/text.h"

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <system_error>

namespace trackhost {

std::string resolveModule(const std::string& module)
{
    if (module.find('/') != std::string::npos || module.find('\\') != std::string::npos) {
#ifdef _WIN32
        std::string path = module;
        for (char& c : path) {
            if (c == '/')
                c = '\\';
        }
        return path;
#else
        return module;
#endif
    }
#ifdef _WIN32
    const char* suffix = ".dll";
#else
    const char* suffix = ".so";
#endif
    char dir[4096];
    plat::executableDir(dir, sizeof dir);
    const std::string bare = std::string(dir) + module;
    std::error_code ec;
    if (std::filesystem::is_regular_file(bare, ec))
        return bare;
    return bare + suffix;
}

DeviceSet::DeviceSet(const std::string& file, std::ostream& out, std::ostream& err, bool checking)
    : m_file(file), m_out(out), m_err(err), m_checking(checking)
{
}

void DeviceSet::error(const std::string& text) { errorLine(m_err, text); }

std::string DeviceSet::where(const Device& d) const { return m_file + ":" + std::to_string(d.block->line()) + ": "; }

template <typename Call> void DeviceSet::caught(Device& d, Call call)
{
    if (!m_checking) {
        call();
        return;
    }
    StdoutCapture capture;
    std::string why;
    if (!capture.begin(why)) {
        error(why);
        call();
        return;
    }
    call();
    const std::string text = capture.end();
    const std::size_t before = d.output.shown.size();
    scanOutput(text, d.log, d.output);
    for (std::size_t i = before; i < d.output.shown.size(); ++i)
        m_out << d.output.shown[i] << '\n';
    m_out.flush();
}

bool DeviceSet::load(const DeviceList& blocks)
{
    m_devices.resize(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        Device& d = m_devices[i];
        d.block = blocks[i].get();
        d.path = resolveModule(d.block->module());
        d.log.setName(d.block->name().c_str());
        if (m_checking) {
            // Every debug line, so that the devices' parsers say which lines they read.
            d.log.debugThreshold = 1;
            d.log.debugLevel = 1;
        }
        d.lib = plat::loadLibrary(d.path.c_str());
        if (!d.lib) {
            error(where(d) + "cannot load module " + d.block->module() + ": " + plat::lastLoadError());
            return false;
        }
        d.create = reinterpret_cast<slots::CreateDevFn>(plat::findSymbol(d.lib, "createDev"));
        d.destroy = reinterpret_cast<slots::DeleteDevFn>(plat::findSymbol(d.lib, "deleteDev"));
        if (!d.create || !d.destroy) {
            error(where(d) + "module " + d.path + " lacks the export " + (d.create ? "deleteDev" : "createDev"));
            return false;
        }
    }
    return true;
}

bool DeviceSet::create()
{
    for (Device& d : m_devices) {
        caught(d, [&] { d.object = d.create(d.block->config(), &d.log); });
        if (!d.object) {
            error(where(d) + "device " + d.block->name() + ": createDev gave no device");
            return false;
        }
    }
    return true;
}

bool DeviceSet::init(InitInfo* info)
{
    for (Device& d : m_devices) {
        caught(d, [&] { d.initResult = slots::init(d.object, info); });
        d.initialised = true;
        if (d.initResult != 1) {
            error(where(d) + "device " + d.block->name() + ": init failed (" + std::to_string(d.initResult) + ")");
            if (!m_checking)
                return false;
        }
    }
    return true;
}

bool DeviceSet::start()
{
    for (Device& d : m_devices)
        slots::configure(d.object); // its result carries no meaning for the host
    for (Device& d : m_devices) {
        if (!slots::start(d.object)) {
            error(where(d) + "device " + d.block->name() + ": start failed");
            return false;
        }
    }
    return true;
}

bool DeviceSet::shutdown()
{
    bool ok = true;
    for (Device& d : m_devices) {
        bool stopped = true;
        if (d.initialised && m_stopSeen && !m_checking) {
            StdoutCapture capture;
            std::string why;
            const bool catching = capture.begin(why);
            if (!catching)
                error(why);
            stopped = slots::stop(d.object);
            if (catching) {
                const std::string text = capture.end();
                std::fwrite(text.data(), 1, text.size(), stdout);
                std::fflush(stdout);
                m_stopSeen(d.block->name(), text);
            }
        } else if (d.initialised) {
            caught(d, [&] { stopped = slots::stop(d.object); });
        }
        if (!stopped) {
            error("device " + d.block->name() + ": stop failed");
            ok = false;
        }
        d.initialised = false;
    }
    for (Device& d : m_devices) {
        bool deleted = true;
        if (d.object)
            caught(d, [&] { deleted = d.destroy(d.object); });
        if (!deleted) {
            error("device " + d.block->name() + ": deleteDev failed");
            ok = false;
        }
        d.object = nullptr;
    }
    for (Device& d : m_devices) {
        plat::freeLibrary(d.lib);
        d.lib = nullptr;
    }
    m_devices.clear();
    return ok;
}

} // namespace trackhost
