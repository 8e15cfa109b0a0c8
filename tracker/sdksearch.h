// Where the module looks for the maker's SDK, and only there.
//
// Windows: the folder of the module itself (so that an SDK installed beside
// it is found whatever program hosts it), the host program's folder, the
// system folder, then each absolute folder on PATH; never the current folder.
// Linux: the module's folder, then the system's own order (LD_LIBRARY_PATH,
// the run paths, the system's library folders). When TARSIS_SDK_DIR names a
// folder, that folder is the only place looked in.
//
// A library is always loaded by its full path where one is known, so that its
// own dependencies are found beside it, and stays loaded for the life of the
// process. A file of another architecture is passed over and, if nothing else
// is found, named as such.
#pragma once

#include "support/platform.h"

#include <string>
#include <vector>

namespace sdk {

// The environment variable that names the one folder to load the SDK from.
extern const char* const kSdkDirVariable;

struct SearchPlan {
    struct Place {
        std::string folder; // with its trailing separator
        const char* what;   // "the module's folder", "PATH", ...
    };
    std::vector<Place> places;
    bool systemSearch = false;    // then the system's own order by the bare name (Linux)
    bool fromEnvironment = false; // TARSIS_SDK_DIR named the one place
};

// The places a module in moduleFolder searches, in order, each folder once.
SearchPlan searchPlan(const std::string& moduleFolder);
// One line for a person: "C:\x\ (the module's folder); ...".
std::string describePlan(const SearchPlan& plan);

struct Located {
    plat::LibHandle handle = nullptr;
    std::string path;    // the file loaded, or the one that failed to load
    std::string failure; // the console line when nothing was loaded
};
Located locate(const SearchPlan& plan, const std::string& file);

} // namespace sdk
