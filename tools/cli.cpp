#include "cli.h"

#include <signal.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <system_error>

namespace tessel::cli {

void PrintError(const ComError& e) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(e.Number));
    std::cerr << "error " << e.Number;
    if (e.Number < 0) std::cerr << " (" << hex << ")";
    std::cerr << " from " << e.Source << ": " << e.Description << "\n";
    if (!e.Detail.empty()) std::cerr << "  " << e.Detail << "\n";
}

void ApplySetting(Parameter& settings, const std::string& assignment) {
    const auto eq = assignment.find('=');
    settings.Item(assignment.substr(0, eq))->Value(-1, -1, Variant(assignment.substr(eq + 1)));
}

void PrintSettings(const Parameter& root) {
    static const std::map<int16_t, const char*> kKinds = {
        {kParameterList, "list"}, {kParameterRange, "range"}, {kParameterText, "text"}};
    std::cout << root.Name() << "\n";
    for (const auto& child : root.Children()) {
        auto kind = kKinds.find(child->Kind());
        std::cout << "  " << child->Name() << " = " << child->StoredValue().ToString() << "   ("
                  << (kind == kKinds.end() ? "?" : kind->second);
        if (!child->Allowed().empty()) std::cout << ": " << child->Allowed();
        if (!child->Unit().empty()) std::cout << ", unit " << child->Unit();
        std::cout << ")\n";
    }
}

int Guarded(const std::function<int()>& run) {
    try {
        return run();
    } catch (const ComError& e) {
        PrintError(e);
    } catch (const Failure& e) {
        std::cerr << "tessel: " << e.what() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "tessel: unexpected failure: " << e.what() << "\n";
    }
    return kExitFailure;
}

namespace {
void OnInterrupt(int) { DefaultHostControl().RequestStop(); }
}  // namespace

void InstallInterruptHandler(Interrupts interrupts) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    // Once: a second Ctrl+C ends the program.
    action.sa_flags = interrupts == Interrupts::Once ? SA_RESETHAND : SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace tessel::cli
