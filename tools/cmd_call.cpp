// Calls of members by name: the shell's `call` reaches objects through here.
#include "cli.h"

namespace tessel::cli {

// The late-bound path (CallByName) joins here; until then the shell says so
// rather than guessing at a member.
std::string CallMember(const std::shared_ptr<Object>&, const std::string& member, const std::vector<std::string>&) {
    throw Failure("call " + member + ": calls by member name are not available in this build");
}

}  // namespace tessel::cli
