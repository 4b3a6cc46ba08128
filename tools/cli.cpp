#include "cli.h"

#include <signal.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace tessel::cli {

Args::Args(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0 || arg.size() == 2) {
            words.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        if (auto eq = name.find('='); eq != std::string::npos) {
            options_.emplace(name.substr(0, eq), name.substr(eq + 1));
        } else if (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0) {
            options_.emplace(name, argv[++i]);
        } else {
            flags_.push_back(name);
        }
    }
}

std::optional<std::string> Args::Take(const std::string& name) {
    auto all = TakeAll(name);
    if (all.empty()) return std::nullopt;
    return all.back();
}

std::vector<std::string> Args::TakeAll(const std::string& name) {
    std::vector<std::string> values;
    auto [first, last] = options_.equal_range(name);
    for (auto it = first; it != last; ++it) values.push_back(it->second);
    options_.erase(name);
    return values;
}

bool Args::Flag(const std::string& name) {
    for (auto it = flags_.begin(); it != flags_.end(); ++it) {
        if (*it == name) {
            flags_.erase(it);
            return true;
        }
    }
    return false;
}

void Args::RequireAllTaken() const {
    std::string unknown;
    for (const auto& [name, value] : options_) unknown += " --" + name;
    for (const auto& name : flags_) unknown += " --" + name;
    if (!unknown.empty()) throw std::invalid_argument("unknown option(s):" + unknown);
}

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
    if (eq == std::string::npos)
        throw std::invalid_argument("--set takes Name=Value, e.g. --set \"Baud Rate=19200\"; got \"" + assignment + "\"");
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

int Guarded(const std::function<int()>& fn) {
    try {
        return fn();
    } catch (const ComError& e) {
        PrintError(e);
        return 1;
    } catch (const std::invalid_argument& e) {
        std::cerr << "tessel: " << e.what() << "\n";
        return 2;
    }
}

namespace {
void OnInterrupt(int) { DefaultHostControl().RequestStop(); }
}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;  // a second Ctrl+C ends the program
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace tessel::cli
