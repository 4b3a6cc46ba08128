// Calls of members by name: `tessel call` and the shell's `call` reach
// objects through the late-bound path, as any host without our headers would.
#include <iostream>

#include "cli.h"

namespace tessel::cli {

std::string CallMember(const std::shared_ptr<Object>& object, const std::string& member,
                       const std::vector<std::string>& arguments, CallType type) {
    // Words from a command line are text; the call converts them to what
    // each argument needs, by the same rules as for any late-bound caller.
    std::vector<Variant> values(arguments.begin(), arguments.end());
    const Variant result = CallByName(*object, member, type, values);
    return result.IsEmpty() ? std::string() : result.ToString();
}

int Call(const CallOptions& options) {
    // "clsTimeout" is short for the program identifier "Tessel.clsTimeout".
    const bool bare = options.className.find_first_of(".{") == std::string::npos;
    auto object = CreateObjectById(bare ? "Tessel." + options.className : options.className);
    if (!options.settings.empty()) {
        auto setup = QueryInterface<IPortSetup>(object);
        if (!setup) throw Failure(options.className + " has no settings");
        for (const std::string& assignment : options.settings) ApplySetting(*setup->Settings(), assignment);
    }
    const std::string text = CallMember(object, options.member, options.arguments, options.type);
    if (!text.empty()) std::cout << text << "\n";
    return 0;
}

}  // namespace tessel::cli
