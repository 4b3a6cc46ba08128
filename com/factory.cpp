#include <tessel/factory.h>

#include <functional>

#include <tessel/comm.h>
#include <tessel/error.h>
#include <tessel/ethernet.h>
#include <tessel/gpib.h>
#include <tessel/gui.h>
#include <tessel/host.h>
#include <tessel/th03.h>
#include <tessel/timeout.h>

#include "ports/text.h"

namespace tessel {
namespace {

struct ClassEntry {
    const char* progId;
    std::function<std::shared_ptr<Object>()> create;
};

const std::vector<ClassEntry>& Classes() {
    static const std::vector<ClassEntry> kClasses = {
        {"Tessel.clsComm", [] { return std::make_shared<clsComm>(); }},
        {"Tessel.clsEthernet", [] { return std::make_shared<clsEthernet>(); }},
        {"Tessel.clsGPIB", [] { return std::make_shared<clsGPIB>(); }},
        {"Tessel.clsGUI", [] { return std::make_shared<clsGUI>(); }},
        {"Tessel.clsTH03", [] { return std::make_shared<clsTH03>(); }},
        {"Tessel.clsTimeout", [] { return std::make_shared<clsTimeout>(); }},
    };
    return kClasses;
}

}  // namespace

std::shared_ptr<Object> CreateObject(std::string_view progId) {
    const std::string wanted(progId);
    for (const auto& entry : Classes())
        if (SameText(entry.progId, wanted)) return entry.create();
    std::string known;
    for (const auto& entry : Classes()) known += (known.empty() ? "" : ", ") + std::string(entry.progId);
    RaiseError(kErrCannotCreateObject, kRuntimeSource, "No class is registered as \"" + wanted + "\"", {}, 0,
               "known classes: " + known);
}

std::vector<std::string> RegisteredClasses() {
    std::vector<std::string> ids;
    for (const auto& entry : Classes()) ids.emplace_back(entry.progId);
    return ids;
}

}  // namespace tessel
