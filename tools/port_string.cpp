#include "port_string.h"

#include <strings.h>

#include <charconv>
#include <optional>
#include <span>
#include <string_view>

namespace tessel::cli {
namespace {

struct ShortName {
    const char* name;     // as written in a port string
    const char* setting;  // the driver's own name of the setting
};

struct Transport {
    std::string_view scheme;
    const char* progId;
    const char* form;  // how the address is written, for messages
    // Turns the address (what lies between "scheme:" and "?") into settings;
    // returns false when it is not of the transport's form.
    bool (*address)(std::string_view address, PortPlan& plan);
    std::span<const ShortName> shortNames;
};

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<long> WholeNumber(std::string_view text, long low, long high, int base = 10) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

bool SerialAddress(std::string_view address, PortPlan& plan) {
    if (address.starts_with('/')) {
        plan.device = std::string(address);
        return true;
    }
    const auto number = WholeNumber(address, 1, 32767);
    if (!number) return false;
    plan.settings.emplace_back("Comm Port", std::to_string(*number));
    return true;
}

bool TcpAddress(std::string_view address, PortPlan& plan) {
    const auto colon = address.rfind(':');
    if (colon == std::string_view::npos) return false;
    std::string_view host = address.substr(0, colon);
    if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
    const auto port = WholeNumber(address.substr(colon + 1), 1, 65535);
    if (host.empty() || !port) return false;
    plan.settings.emplace_back("Remote Host", std::string(host));
    plan.settings.emplace_back("Remote Port", std::to_string(*port));
    return true;
}

// BOARD:ADDRESS, or BOARD:ADDRESS:SECONDARY with the secondary 96 to 126.
// The ranges are the driver's own; checking them here names the part.
bool GpibAddress(std::string_view address, PortPlan& plan) {
    const auto colon = address.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view rest = address.substr(colon + 1);
    const auto second = rest.find(':');
    const auto board = WholeNumber(address.substr(0, colon), 0, 3);
    const auto primary = WholeNumber(rest.substr(0, second), 0, 30);
    const auto secondary =
        second == std::string_view::npos ? std::optional<long>(0) : WholeNumber(rest.substr(second + 1), 96, 126);
    if (!board || !primary || !secondary) return false;
    plan.settings.emplace_back("Board", std::to_string(*board));
    plan.settings.emplace_back("Primary Address", std::to_string(*primary));
    plan.settings.emplace_back("Secondary Address", std::to_string(*secondary));
    return true;
}

constexpr ShortName kSerialNames[] = {
    {"port", "Comm Port"},       {"baud", "Baud Rate"},      {"parity", "Parity"},
    {"databits", "Data Bits"},   {"stopbits", "Stop Bits"},  {"handshaking", "Handshaking"},
};
constexpr ShortName kTcpNames[] = {{"host", "Remote Host"}, {"port", "Remote Port"}};
constexpr ShortName kGpibNames[] = {
    {"board", "Board"}, {"pad", "Primary Address"}, {"sad", "Secondary Address"}};

constexpr Transport kTransports[] = {
    {"serial", "Tessel.clsComm", "serial:NUMBER or serial:DEVICE", SerialAddress, kSerialNames},
    {"tcp", "Tessel.clsEthernet", "tcp:HOST:PORT", TcpAddress, kTcpNames},
    {"gpib", "Tessel.clsGPIB", "gpib:BOARD:ADDRESS[:SECONDARY]", GpibAddress, kGpibNames},
};

// %XX escapes, so that a name with a blank fits in a URL-like string.
std::string Unescaped(std::string_view text, const std::string& whole) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const auto hex = WholeNumber(text.substr(i + 1, 2), 0, 255, 16);
        if (!hex || text.size() < i + 3)
            throw BadPortString(whole + ": \"%\" must be followed by two hexadecimal digits");
        out += static_cast<char>(*hex);
        i += 2;
    }
    return out;
}

std::string SettingName(const Transport& transport, const std::string& name) {
    for (const ShortName& s : transport.shortNames)
        if (SameName(name, s.name)) return s.setting;
    return name;
}

}  // namespace

PortPlan ParsePortString(const std::string& text) {
    const auto colon = text.find(':');
    const std::string_view scheme = std::string_view(text).substr(0, colon);
    const Transport* transport = nullptr;
    for (const Transport& t : kTransports)
        if (SameName(scheme, t.scheme)) transport = &t;
    if (colon == std::string::npos || transport == nullptr)
        throw BadPortString(text + ": a port is " + PortStringForms());

    PortPlan plan;
    plan.progId = transport->progId;
    const auto question = text.find('?', colon + 1);
    const std::string_view address = std::string_view(text).substr(colon + 1, question - colon - 1);
    if (!transport->address(address, plan))
        throw BadPortString(text + ": \"" + std::string(address) + "\" is not " + transport->form);
    if (question == std::string::npos) return plan;

    std::string_view query = std::string_view(text).substr(question + 1);
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        const auto eq = item.find('=');
        if (eq == std::string_view::npos || eq == 0)
            throw BadPortString(text + ": \"" + std::string(item) + "\" is not NAME=VALUE");
        plan.settings.emplace_back(SettingName(*transport, Unescaped(item.substr(0, eq), text)),
                                   Unescaped(item.substr(eq + 1), text));
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return plan;
}

std::string PortStringForms() {
    std::string forms;
    for (const Transport& t : kTransports) forms += std::string(forms.empty() ? "" : ", ") + t.form;
    return forms;
}

}  // namespace tessel::cli
