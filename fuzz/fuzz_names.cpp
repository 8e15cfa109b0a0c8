// Export names of any spelling, one a line, offered to the export scan for
// every member of the SDK table on each machine whose names it reads. The scan
// takes only names it was given, each once; a member found is the one name
// taken, and a refusal says why and makes its console line.
#include "fuzz/harness.h"
#include "tracker/sdkbind.h"

#include <algorithm>

namespace {
int runOne(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> names = fuzzhelp::splitLines(data, size);
    const sdk::NameAbi abis[] = {{false, true}, {true, true}, {true, false}};
    for (const sdk::NameAbi& abi : abis) {
        for (int i = 0; i < sdk::kMemberCount; ++i) {
            const sdk::Match m = sdk::findExport(names, static_cast<sdk::Id>(i), abi);
            const sdk::MemberInfo& info = sdk::memberInfo(static_cast<sdk::Id>(i));
            const std::string member = std::string(info.cls) + "::" + info.member;
            for (std::size_t c = 0; c < m.candidates.size(); ++c) {
                if (std::find(names.begin(), names.end(), m.candidates[c]) == names.end())
                    fuzzhelp::violation("names-given", member + ": " + m.candidates[c]);
                if (std::count(m.candidates.begin(), m.candidates.end(), m.candidates[c]) != 1)
                    fuzzhelp::violation("names-once", member + ": " + m.candidates[c]);
            }
            const std::size_t n = m.candidates.size();
            const bool shape = m.result == sdk::Match::Found     ? n == 1 && m.name == m.candidates[0]
                               : m.result == sdk::Match::Ambiguous ? n > 1
                               : m.result == sdk::Match::Refused   ? n > 0 && m.why != sdk::Refusal::None
                                                                   : n == 0;
            if (!shape || (m.result != sdk::Match::Refused && m.why != sdk::Refusal::None))
                fuzzhelp::violation("names-result", member);
            if (m.result == sdk::Match::Refused &&
                sdk::refusalLine("OTK.dll", static_cast<sdk::Id>(i), m.candidates, m.why).find(info.cls) ==
                    std::string::npos)
                fuzzhelp::violation("names-line", member);
        }
    }
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzzhelp::runTolerating(runOne, data, size);
}
