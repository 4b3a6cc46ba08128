// Listing the machine's serial ports through libudev, and the process-wide
// map from port numbers to devices.
#include <tessel/serial_ports.h>

#include <libudev.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <tuple>

#include "serial/comm_errors.h"

namespace tessel {
namespace {

using serial::RaiseCommError;

// ---- port numbers ----

constexpr std::string_view kDefaultPrefix = "/dev/ttyS";

struct Assignments {
    std::mutex mutex;
    std::map<int16_t, std::string> paths;
};

Assignments& TheAssignments() {
    static Assignments assignments;
    return assignments;
}

std::map<int16_t, std::string> SnapshotAssignments() {
    Assignments& a = TheAssignments();
    std::lock_guard lock(a.mutex);
    return a.paths;
}

void CheckNumber(int16_t number) {
    if (number < 1) {
        RaiseCommError(serial::kCommInvalidPortNumber,
                       "port numbers start at 1 (COM1 means /dev/ttyS0), not " + std::to_string(number));
    }
}

// The path a device is reached by, with symbolic links resolved, so that
// /dev/serial/by-id/... and the /dev/ttyUSB0 it points to compare equal.
std::string Canonical(const std::string& path) {
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
}

// n for /dev/ttyS<n>, when path is one of those.
std::optional<long> DefaultIndexOf(std::string_view path) {
    if (!path.starts_with(kDefaultPrefix)) return std::nullopt;
    const std::string_view digits = path.substr(kDefaultPrefix.size());
    long index = -1;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size() || index < 0) {
        return std::nullopt;
    }
    return index;
}

int16_t NumberOf(const std::string& path, const std::map<int16_t, std::string>& assigned) {
    const std::string wanted = Canonical(path);
    int16_t best = 0;
    for (const auto& [number, assignedPath] : assigned) {
        if (Canonical(assignedPath) == wanted) {
            best = number;  // the map is ordered: the first match is the smallest
            break;
        }
    }
    // The number's default meaning counts only while no assignment overrides it.
    if (auto index = DefaultIndexOf(wanted); index && *index < INT16_MAX) {
        const auto number = static_cast<int16_t>(*index + 1);
        if (!assigned.contains(number) && (best == 0 || number < best)) best = number;
    }
    return best;
}

// ---- libudev ----

template <auto Unref>
struct UdevUnref {
    template <typename T>
    void operator()(T* p) const noexcept {
        Unref(p);
    }
};
using Udev = std::unique_ptr<udev, UdevUnref<&udev_unref>>;
using UdevEnumerate = std::unique_ptr<udev_enumerate, UdevUnref<&udev_enumerate_unref>>;
using UdevDevice = std::unique_ptr<udev_device, UdevUnref<&udev_device_unref>>;

[[noreturn]] void RaiseUdevError(const std::string& step, int err) {
    RaiseCommError(serial::kCommDeviceControlBlockError,
                   "listing serial ports through udev: " + step + " failed (" + std::strerror(err) + ")");
}

std::string Text(const char* value) { return value ? value : ""; }

// serial_core ports carry their UART type; 0 is PORT_UNKNOWN, which the 8250
// driver gives to each of the slots (32 on a typical PC) it probed and found
// empty.
bool IsAbsentUart(udev_device* dev) {
    const char* type = udev_device_get_sysattr_value(dev, "type");
    if (!type) return false;
    int value = -1;
    std::from_chars(type, type + std::strlen(type), value);
    return value == 0;
}

// The driver that serves the port: the nearest ancestor with a driver, past
// the serial-base devices that newer kernels put between a UART and its tty.
std::string DriverOf(udev_device* dev) {
    for (udev_device* p = udev_device_get_parent(dev); p; p = udev_device_get_parent(p)) {
        const char* subsystem = udev_device_get_subsystem(p);
        if (subsystem && std::strcmp(subsystem, "serial-base") == 0) continue;
        if (const char* driver = udev_device_get_driver(p)) return driver;
    }
    return {};
}

std::optional<SerialPortInfo> Describe(udev_device* dev) {
    const char* node = udev_device_get_devnode(dev);
    // Virtual terminals, /dev/tty, /dev/console and /dev/ptmx have no parent.
    if (!node || !udev_device_get_parent(dev) || IsAbsentUart(dev)) return std::nullopt;
    // Inside a container sysfs shows the host's devices, whose nodes may not
    // exist here.
    struct stat st {};
    if (::stat(node, &st) != 0 || !S_ISCHR(st.st_mode)) return std::nullopt;

    SerialPortInfo info;
    info.path = node;
    info.driver = DriverOf(dev);
    // The USB device the adapter sits on; owned by dev, not released here.
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device")) {
        info.usbVendorId = Text(udev_device_get_sysattr_value(usb, "idVendor"));
        info.usbProductId = Text(udev_device_get_sysattr_value(usb, "idProduct"));
        info.manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
        info.product = Text(udev_device_get_sysattr_value(usb, "product"));
        info.serialNumber = Text(udev_device_get_sysattr_value(usb, "serial"));
    }
    info.description = Text(udev_device_get_property_value(dev, "ID_MODEL_FROM_DATABASE"));
    if (info.description.empty()) info.description = info.product;
    if (info.description.empty()) info.description = info.driver;
    if (info.description.empty()) info.description = Text(udev_device_get_sysname(dev));
    return info;
}

// Orders /dev/ttyS2 before /dev/ttyS10: the trailing number compares as a number.
auto SortKey(const std::string& path) {
    const auto cut = path.find_last_not_of("0123456789") + 1;
    unsigned long number = 0;
    std::from_chars(path.data() + cut, path.data() + path.size(), number);
    return std::make_tuple(std::string_view(path).substr(0, cut), cut == path.size() ? 0 : 1, number,
                           std::string_view(path));
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    errno = 0;
    Udev context(udev_new());
    if (!context) RaiseUdevError("udev_new", errno ? errno : ENOMEM);
    UdevEnumerate enumerate(udev_enumerate_new(context.get()));
    if (!enumerate) RaiseUdevError("udev_enumerate_new", errno ? errno : ENOMEM);
    if (int r = udev_enumerate_add_match_subsystem(enumerate.get(), "tty"); r < 0) {
        RaiseUdevError("matching subsystem tty", -r);
    }
    if (int r = udev_enumerate_scan_devices(enumerate.get()); r < 0) RaiseUdevError("scanning /sys", -r);

    std::vector<SerialPortInfo> ports;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        // A device that went away since the scan is simply not listed.
        UdevDevice dev(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!dev) continue;
        if (auto info = Describe(dev.get())) ports.push_back(std::move(*info));
    }

    const auto assigned = SnapshotAssignments();
    for (SerialPortInfo& port : ports) port.portNumber = NumberOf(port.path, assigned);
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return SortKey(a.path) < SortKey(b.path); });
    return ports;
}

void AssignSerialPort(int16_t number, const std::string& path) {
    CheckNumber(number);
    Assignments& a = TheAssignments();
    std::lock_guard lock(a.mutex);
    if (path.empty()) {
        a.paths.erase(number);
    } else {
        a.paths[number] = path;
    }
}

std::string SerialPortPath(int16_t number) {
    CheckNumber(number);
    {
        Assignments& a = TheAssignments();
        std::lock_guard lock(a.mutex);
        if (auto it = a.paths.find(number); it != a.paths.end()) return it->second;
    }
    return std::string(kDefaultPrefix) + std::to_string(number - 1);
}

int16_t SerialPortNumber(const std::string& path) { return NumberOf(path, SnapshotAssignments()); }

}  // namespace tessel
