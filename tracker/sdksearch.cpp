#include "tracker/sdksearch.h"

#include "support/libarch.h"
#include "tracker/sdkbind.h"


namespace sdk {

const char* const kSdkDirVariable = "TARSIS_SDK_DIR";

namespace {

#ifdef _WIN32
const char kSeparator = '\\';
const char* const kModuleFile = "tarsis.dll";
#else
const char kSeparator = '/';
const char* const kModuleFile = "tarsis.so";
#endif

bool isSeparator(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

std::string withSeparator(std::string folder)
{
    if (!folder.empty() && !isSeparator(folder.back()))
        folder += kSeparator;
    return folder;
}

#ifdef _WIN32
// A folder that does not depend on the current folder: C:\... or \\server\...
bool isAbsolute(const std::string& folder)
{
    const bool drive = folder.size() >= 3 && folder[1] == ':' && isSeparator(folder[2]);
    return drive || (folder.size() >= 2 && isSeparator(folder[0]) && isSeparator(folder[1]));
}

// Folder names compare without regard to case.
std::string comparable(const std::string& folder)
{
    std::string key = folder;
    for (char& c : key)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return key;
}
#else
std::string comparable(const std::string& folder) { return folder; }
#endif

void addPlace(SearchPlan& plan, std::string folder, const char* what)
{
    if (folder.empty())
        return;
#ifdef _WIN32
    // A full path with forward slashes does not lead the loader to the
    // library's own folder for its dependencies.
    for (char& c : folder)
        if (c == '/')
            c = '\\';
#endif
    const std::string place = withSeparator(folder);
    for (const SearchPlan::Place& p : plan.places)
        if (comparable(p.folder) == comparable(place))
            return;
    plan.places.push_back({place, what});
}

} // namespace

SearchPlan searchPlan(const std::string& moduleFolder)
{
    SearchPlan plan;
    std::string only;
    if (plat::environment(kSdkDirVariable, only) && !only.empty()) {
        plan.fromEnvironment = true;
        addPlace(plan, only, kSdkDirVariable);
        return plan;
    }
    addPlace(plan, moduleFolder, "the module's folder");
#ifdef _WIN32
    char program[4096];
    plat::executableDir(program, sizeof program);
    addPlace(plan, program, "the program's folder");
    addPlace(plan, plat::systemDir(), "the system folder");
    std::string path;
    if (plat::environment("PATH", path)) {
        std::size_t start = 0;
        while (start <= path.size()) {
            std::size_t end = path.find(';', start);
            if (end == std::string::npos)
                end = path.size();
            std::string folder = path.substr(start, end - start);
            if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"')
                folder = folder.substr(1, folder.size() - 2);
            // A relative entry would be looked up from the current folder.
            if (isAbsolute(folder))
                addPlace(plan, folder, "PATH");
            start = end + 1;
        }
    }
#else
    plan.systemSearch = true;
#endif
    return plan;
}

std::string describePlan(const SearchPlan& plan)
{
    std::string text;
    for (const SearchPlan::Place& p : plan.places)
        text += (text.empty() ? "" : "; ") + p.folder + (plan.fromEnvironment ? "" : std::string(" (") + p.what + ")");
    if (plan.systemSearch)
        text += std::string(text.empty() ? "" : "; ") + "then the system's search order";
    if (plan.fromEnvironment)
        text += text::kOnlyFromDir;
    return text;
}

Located locate(const SearchPlan& plan, const std::string& file)
{
    Located found;
    const std::string suffix = plan.fromEnvironment ? text::kOnlyFromDir : "";
    std::string wrongArch; // the first file of another architecture, as a line
    std::string looked;
    for (const SearchPlan::Place& place : plan.places) {
        looked += (looked.empty() ? "" : "; ") + place.folder;
        const std::string path = place.folder + file;
        if (!plat::isFile(path.c_str()))
            continue;
        const LibraryArch arch = readLibraryArch(path.c_str());
        if (arch.format != LibraryArch::Unknown && !sameArch(arch, moduleArch())) {
            if (wrongArch.empty()) {
                const std::string why = "a " + describeArch(arch) + " library; this " + kModuleFile + " is " +
                                        describeArch(moduleArch());
                wrongArch = formatLine(text::kLoadFailed, path.c_str(), why.c_str()) + suffix;
            }
            continue;
        }
        // The first file that is there is the SDK, also when it fails to load.
        found.path = path;
        found.handle = plat::loadPinnedLibrary(path.c_str());
        if (!found.handle)
            found.failure = formatLine(text::kLoadFailed, path.c_str(), plat::lastLoadError()) + suffix;
        return found;
    }
    std::string systemSays;
    if (plan.systemSearch) {
        found.handle = plat::loadPinnedLibrary(file.c_str());
        if (found.handle) {
            found.path = plat::libraryFile(found.handle);
            return found;
        }
        systemSays = plat::lastLoadError();
    }
    if (!wrongArch.empty()) {
        found.failure = wrongArch;
    } else {
        std::string why = "not found in " + (looked.empty() ? std::string("no folder") : looked);
        if (plan.systemSearch)
            why += "; the system's search: " + systemSays;
        found.failure = formatLine(text::kLoadFailed, file.c_str(), why.c_str()) + suffix;
    }
    return found;
}

} // namespace sdk
