// Settings roots whose settings are all lists ("label=value" choices), as the
// serial and logger drivers have: written as one table, created in its order.
#pragma once

#include <initializer_list>
#include <memory>

#include <tessel/parameter.h>
#include <tessel/variant.h>

namespace tessel {

struct ListSetting {
    const char* name;
    const char* allowed;  // "COM1=1,COM2=2"
    Variant defaultValue;
};

// A root titled `title` holding the settings, each added and given its
// default before the next is added. Raises what Parameter raises.
inline std::shared_ptr<Parameter> CreateListSettings(const char* title, std::initializer_list<ListSetting> settings) {
    auto root = Parameter::Create();
    root->Define(title, 4, 3, "", "");
    for (const ListSetting& setting : settings)
        root->Add(setting.name, 1, kParameterList, setting.allowed, "")->Value(-1, -1, setting.defaultValue);
    return root;
}

}  // namespace tessel
