#include "trackhost/sdkcheck.h"

#include "support/platform.h"
#include "tracker/sdkbind.h"

#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>

namespace trackhost {

namespace {

// "OTK.dll has it only as data: NAME, NAME"
std::string refusedForms(const sdk::BindReport::Member& member, const std::string& file)
{
    std::string line = file + " has it only " + sdk::refusalText(member.why) + ":";
    for (const std::string& name : member.candidates)
        line += " " + name;
    return line;
}

std::string memberLine(const sdk::MemberInfo& info, const sdk::BindReport::Member& member, const std::string& file)
{
    std::string line = std::string(info.cls) + "::" + info.member + ": ";
    switch (member.state) {
    case sdk::BindReport::Member::Bound:
        return line + member.name;
    case sdk::BindReport::Member::Absent:
        if (!member.candidates.empty())
            return line + "not bound (not needed: it has nothing to do), " + refusedForms(member, file);
        return line + "not exported (not needed: it has nothing to do)";
    case sdk::BindReport::Member::Refused:
        return line + "REFUSED, " + refusedForms(member, file);
    case sdk::BindReport::Member::Missing:
        return line + "MISSING from " + file;
    case sdk::BindReport::Member::Ambiguous: {
        line += "AMBIGUOUS in " + file + ":";
        for (const std::string& name : member.candidates)
            line += " " + name;
        return line;
    }
    case sdk::BindReport::Member::NoLibrary:
        break;
    }
    return line + "not looked up: " + file + " not loaded";
}

// The object's storage after its constructor ran.
template <typename Object> bool storageLine(std::ostream& out, const char* cls, const Object& object)
{
    if (const char* why = object.failure()) {
        out << cls << ": " << why << '\n';
        return false;
    }
    out << cls << ": its constructor wrote " << object.writtenBytes() << " of " << object.reservedBytes()
        << " reserved bytes\n";
    return true;
}

} // namespace

int checkSdk(std::ostream& out, const std::string& module)
{
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(module, ec);
    if (ec || !plat::isFile(path.string().c_str())) {
        out << "trackhost: --sdk: no module " << module << '\n';
        return 1;
    }
    std::string folder = path.parent_path().string();
    folder += std::filesystem::path::preferred_separator;
    sdk::searchAsModuleIn(folder);
    const sdk::BindReport& report = sdk::acquireBinding(nullptr);
    out << "Looking for the tracker SDK as " << path.string() << " does: " << sdk::describePlan(report.plan) << '\n';
    for (const sdk::BindReport::Lib& lib : report.libraries)
        out << (lib.loaded ? lib.file + ": loaded from " + lib.path : lib.failure) << '\n';
    int bound = 0, absent = 0;
    for (int m = 0; m < sdk::kMemberCount; ++m) {
        const sdk::MemberInfo& info = sdk::memberInfo(static_cast<sdk::Id>(m));
        const sdk::BindReport::Member& member = report.members[m];
        bound += member.state == sdk::BindReport::Member::Bound;
        absent += member.state == sdk::BindReport::Member::Absent;
        out << memberLine(info, member, report.libraries[static_cast<int>(info.library)].file) << '\n';
    }
    bool fits = true;
    if (report.complete) {
        out << "Storage of each SDK object: " << sdk::objectStorageBytes() << " bytes, then a "
            << sdk::kGuardBandBytes << "-byte guard band\n";
        fits = storageLine(out, "COTKdev", sdk::COTKdev()) && fits;
        fits = storageLine(out, "COTKser", sdk::COTKser(sdk::OV_BAUD_115200, sdk::OV_PARITY_NONE, 1)) && fits;
        fits = storageLine(out, "COTKbiterr", sdk::COTKbiterr()) && fits;
        fits = storageLine(out, "COTKmdat", sdk::COTKmdat()) && fits;
    }
    const bool ok = report.complete && fits;
    if (ok)
        out << "Tracker SDK ready: " << bound << " members bound, " << absent << " not needed\n";
    else if (!report.complete)
        out << "Tracker SDK not usable: " << report.failure << '\n';
    else
        out << "Tracker SDK not usable: an SDK object needs more storage than the module reserves\n";
    sdk::releaseBinding();
    return ok ? 0 : 1;
}

} // namespace trackhost
