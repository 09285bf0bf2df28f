#include "usb/usbfs_testbed.h"

#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>

namespace veltrane::test {

namespace {

constexpr std::uint8_t kOutEndpoint = 0x01;
constexpr std::uint8_t kInEndpoint = 0x81;
constexpr unsigned kInterface = 0;
constexpr const char* kSerialDriver = "cp210x";

// The bridge as it enumerates: a vendor-specific full-speed device with one
// configuration, interface 0 with a bulk OUT and a bulk IN endpoint of 64
// bytes. This is the sysfs "descriptors" file: device descriptor, then the
// whole configuration.
// clang-format off
constexpr std::uint8_t kDescriptors[] = {
    0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0xC4, 0x10, 0x61, 0xEA, 0x00, 0x01, 0x01, 0x02, 0x03, 0x01,
    0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32, // configuration 1, 32 bytes with what follows
    0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00, // interface 0, two endpoints, vendor class
    0x07, 0x05, kOutEndpoint, 0x02, 0x40, 0x00, 0x00,     // bulk OUT
    0x07, 0x05, kInEndpoint, 0x02, 0x40, 0x00, 0x00,      // bulk IN
};
// clang-format on

struct DataUnref {
    void operator()(UMockdevIoctlData* data) const { g_object_unref(data); }
};
using DataRef = std::unique_ptr<UMockdevIoctlData, DataUnref>;

DataRef Resolve(UMockdevIoctlData* data, gsize offset, gsize length) {
    GError* error = nullptr;
    UMockdevIoctlData* out = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error) {
        ADD_FAILURE() << "umockdev could not reach the client's memory: " << error->message;
        g_error_free(error);
    }
    return DataRef(out);
}

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
    std::string out;
    char two[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

} // namespace

// One plugging of the bridge: the usbfs side of the device, answering the
// ioctls that libusb issues on its node. umockdev calls it on its own worker
// thread while the test thread is blocked inside libusb.
class EmulatedBridgeDevice {
public:
    explicit EmulatedBridgeDevice(std::shared_ptr<VirtualInstrument> instrument)
        : m_instrument(std::move(instrument)), m_handler(umockdev_ioctl_base_new()) {
        g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&EmulatedBridgeDevice::OnIoctl), this);
        g_signal_connect(m_handler, "client-connected", G_CALLBACK(&EmulatedBridgeDevice::OnConnected), this);
    }
    ~EmulatedBridgeDevice() {
        g_signal_handlers_disconnect_by_data(m_handler, this);
        g_object_unref(m_handler);
    }

    UMockdevIoctlBase* handler() const { return m_handler; }

    void vanish() {
        std::lock_guard lock(m_mutex);
        m_gone = true;
    }
    void setUnresponsive(bool on) {
        std::lock_guard lock(m_mutex);
        m_unresponsive = on;
    }
    void stallNext(std::uint8_t endpoint) {
        std::lock_guard lock(m_mutex);
        m_stallNext.insert(endpoint);
    }
    UsbfsStats stats() const {
        std::lock_guard lock(m_mutex);
        return m_stats;
    }
    std::vector<std::string> faults() const {
        std::lock_guard lock(m_mutex);
        return m_faults;
    }

private:
    struct Client {
        bool claimed = false;
        std::deque<DataRef> reapable; // completed URBs, oldest first
        std::deque<DataRef> pending;  // submitted to an unresponsive device
    };

    std::shared_ptr<VirtualInstrument> m_instrument;
    UMockdevIoctlBase* m_handler;
    mutable std::mutex m_mutex;
    std::map<UMockdevIoctlClient*, Client> m_clients;
    std::set<std::uint8_t> m_stallNext;
    std::set<std::uint8_t> m_halted;
    bool m_gone = false;
    bool m_unresponsive = false;
    // Linux binds cp210x to Silicon Labs' factory IDs, the USBXpress one
    // included, so a freshly plugged bridge has it on interface 0.
    bool m_serialDriverBound = true;
    UsbfsStats m_stats;
    std::vector<std::string> m_faults;

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<EmulatedBridgeDevice*>(self)->handle(client);
        return TRUE;
    }
    static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        // umockdev does not tell when a client closes its fd, and a new
        // client may get the address of a closed one: start it afresh.
        auto* device = static_cast<EmulatedBridgeDevice*>(self);
        std::lock_guard lock(device->m_mutex);
        device->m_clients[client] = Client{};
        ++device->m_stats.opens;
    }

    static void Complete(UMockdevIoctlClient* client, long result, int error) {
        umockdev_ioctl_client_complete(client, result, error);
    }

    void fault(const std::string& what) { m_faults.push_back(what); }

    bool anyClaim() const {
        for (const auto& [client, state] : m_clients)
            if (state.claimed) return true;
        return false;
    }
    void unbindSerialDriver() {
        m_serialDriverBound = false;
        ++m_stats.serialDriverUnbinds;
    }

    void handle(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        std::lock_guard lock(m_mutex);
        Client& state = m_clients[client];

        // Completed URBs stay reapable after a disconnect; everything else
        // fails the way usbfs fails on a device that is gone.
        bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
        if (m_gone && !(reap && !state.reapable.empty())) return Complete(client, -1, ENODEV);

        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            DataRef caps = Resolve(arg, 0, sizeof(std::uint32_t));
            if (!caps) return Complete(client, -1, EFAULT);
            std::uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                  USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(caps->data, &value, sizeof value);
            return Complete(client, 0, 0);
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM: {
            // Both start with the interface number.
            DataRef claim = Resolve(
                arg, 0, request == USBDEVFS_CLAIMINTERFACE ? sizeof(unsigned) : sizeof(usbdevfs_disconnect_claim));
            if (!claim) return Complete(client, -1, EFAULT);
            unsigned interface = 0;
            std::memcpy(&interface, claim->data, sizeof interface);
            if (interface != kInterface) return Complete(client, -1, ENOENT);
            if (m_serialDriverBound) {
                // Only disconnect-and-claim may take the interface from the
                // serial driver, and only when not told to spare it.
                usbdevfs_disconnect_claim dc{};
                if (request == USBDEVFS_DISCONNECT_CLAIM) std::memcpy(&dc, claim->data, sizeof dc);
                dc.driver[sizeof dc.driver - 1] = 0;
                bool named = std::strcmp(dc.driver, kSerialDriver) == 0;
                bool take = request == USBDEVFS_DISCONNECT_CLAIM &&
                            ((dc.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER)       ? named
                             : (dc.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) ? !named
                                                                                    : true);
                if (!take) return Complete(client, -1, EBUSY);
                unbindSerialDriver();
            }
            state.claimed = true;
            ++m_stats.claims;
            return Complete(client, 0, 0);
        }
        case USBDEVFS_RELEASEINTERFACE: {
            DataRef number = Resolve(arg, 0, sizeof(unsigned));
            if (!number) return Complete(client, -1, EFAULT);
            unsigned interface = 0;
            std::memcpy(&interface, number->data, sizeof interface);
            if (interface != kInterface || !state.claimed) return Complete(client, -1, EINVAL);
            state.claimed = false;
            ++m_stats.releases;
            return Complete(client, 0, 0);
        }
        case USBDEVFS_GETDRIVER: {
            DataRef query = Resolve(arg, 0, sizeof(usbdevfs_getdriver));
            if (!query) return Complete(client, -1, EFAULT);
            auto* driver = reinterpret_cast<usbdevfs_getdriver*>(query->data);
            if (driver->interface != kInterface) return Complete(client, -1, EINVAL);
            const char* name = m_serialDriverBound ? kSerialDriver : anyClaim() ? "usbfs" : nullptr;
            if (!name) return Complete(client, -1, ENODATA);
            std::snprintf(driver->driver, sizeof driver->driver, "%s", name);
            return Complete(client, 0, 0);
        }
        case USBDEVFS_IOCTL: {
            // Requests for the interface's kernel driver: unbind it, or let
            // the kernel probe the drivers again (the serial driver takes any
            // interface that nobody has claimed).
            DataRef command = Resolve(arg, 0, sizeof(usbdevfs_ioctl));
            if (!command) return Complete(client, -1, EFAULT);
            usbdevfs_ioctl forwarded{};
            std::memcpy(&forwarded, command->data, sizeof forwarded);
            if (forwarded.ifno != static_cast<int>(kInterface)) return Complete(client, -1, EINVAL);
            const auto code = static_cast<unsigned long>(forwarded.ioctl_code);
            if (code == USBDEVFS_DISCONNECT) {
                if (!m_serialDriverBound) return Complete(client, -1, ENODATA);
                unbindSerialDriver();
                return Complete(client, 0, 0);
            }
            if (code == USBDEVFS_CONNECT) {
                if (anyClaim()) return Complete(client, -1, EBUSY);
                if (!m_serialDriverBound) {
                    m_serialDriverBound = true;
                    ++m_stats.serialDriverBinds;
                }
                return Complete(client, 0, 0);
            }
            fault("forwarded driver ioctl " + std::to_string(forwarded.ioctl_code));
            return Complete(client, -1, ENOTTY);
        }
        case USBDEVFS_CLEAR_HALT: {
            DataRef number = Resolve(arg, 0, sizeof(unsigned));
            if (!number) return Complete(client, -1, EFAULT);
            unsigned endpoint = 0;
            std::memcpy(&endpoint, number->data, sizeof endpoint);
            if (endpoint != kOutEndpoint && endpoint != kInEndpoint) return Complete(client, -1, ENOENT);
            m_halted.erase(static_cast<std::uint8_t>(endpoint));
            m_stats.clearedHalts.push_back(static_cast<std::uint8_t>(endpoint));
            return Complete(client, 0, 0);
        }
        case USBDEVFS_SUBMITURB:
            return submit(client, state, arg);
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            // Every URB completes while it is submitted, so a blocking reap
            // with nothing to reap would wait for ever: refuse it instead.
            if (state.reapable.empty()) {
                if (request == USBDEVFS_REAPURB) fault("blocking reap with no URB in flight");
                return Complete(client, -1, EAGAIN);
            }
            DataRef slot = Resolve(arg, 0, sizeof(void*));
            if (!slot) return Complete(client, -1, EFAULT);
            umockdev_ioctl_data_set_ptr(slot.get(), 0, state.reapable.front().get());
            state.reapable.pop_front();
            return Complete(client, 0, 0);
        }
        case USBDEVFS_DISCARDURB: {
            // The argument is the URB's address in the client. A discarded URB
            // completes as cancelled and must still be reaped; one that has
            // completed already is not found, as in the kernel.
            gulong address = 0;
            std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
            for (auto it = state.pending.begin(); it != state.pending.end(); ++it) {
                if ((*it)->client_addr != address) continue;
                auto* urb = reinterpret_cast<usbdevfs_urb*>((*it)->data);
                urb->status = -ENOENT;
                urb->actual_length = 0;
                state.reapable.push_back(std::move(*it));
                state.pending.erase(it);
                ++m_stats.discards;
                return Complete(client, 0, 0);
            }
            return Complete(client, -1, EINVAL);
        }
        default: {
            char text[64];
            std::snprintf(text, sizeof text, "unexpected usbfs request 0x%lx", request);
            fault(text);
            return Complete(client, -1, ENOTTY);
        }
        }
    }

    void submit(UMockdevIoctlClient* client, Client& state, UMockdevIoctlData* arg) {
        DataRef urbData = Resolve(arg, 0, sizeof(usbdevfs_urb));
        if (!urbData) return Complete(client, -1, EFAULT);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        ++m_stats.urbs;
        if (urb->type != USBDEVFS_URB_TYPE_BULK || (urb->endpoint != kOutEndpoint && urb->endpoint != kInEndpoint) ||
            urb->buffer_length < 0) {
            fault("URB of type " + std::to_string(urb->type) + " on endpoint " + std::to_string(urb->endpoint));
            return Complete(client, -1, EINVAL);
        }
        if (!state.claimed) fault("URB submitted without interface 0 claimed");

        const std::uint8_t endpoint = urb->endpoint;
        const bool in = (endpoint & 0x80) != 0;
        const std::uint32_t length = static_cast<std::uint32_t>(urb->buffer_length);
        DataRef buffer;
        if (length > 0) {
            buffer = Resolve(urbData.get(), offsetof(usbdevfs_urb, buffer), length);
            if (!buffer) return Complete(client, -1, EFAULT);
        }
        std::uint8_t* bytes = buffer ? buffer->data : nullptr;

        urb->actual_length = 0;
        urb->status = 0;
        if (m_unresponsive) {
            // The device NAKs for ever: the URB stays in flight until the
            // host gives up on it.
            state.pending.push_back(std::move(urbData));
            return Complete(client, 0, 0);
        }
        if (m_stallNext.erase(endpoint) > 0) {
            m_halted.insert(endpoint);
            if (in) {
                // The reply the device had ready is dropped with the stall.
                std::vector<std::uint8_t> discarded(length);
                std::uint32_t ignored = 0;
                m_instrument->hostRead(discarded.data(), length, ignored);
            }
        }
        if (m_halted.count(endpoint) > 0) {
            urb->status = -EPIPE;
        } else {
            std::uint32_t transferred = 0;
            BridgeStatus status = in ? m_instrument->hostRead(bytes, length, transferred)
                                     : m_instrument->hostWrite(bytes, length, transferred);
            if (m_instrument->lost()) {
                // Pulled while the URB was on the wire: usbfs completes it as
                // shut down and from then on knows the device no more.
                urb->status = -ESHUTDOWN;
                m_gone = true;
            } else if (!in && status != BridgeStatus::Success) {
                urb->status = -EPROTO;
            } else {
                // A short IN transfer is a short packet: it completes without
                // error and the host sees the shorter length, unless the host
                // asked usbfs to treat that as an error.
                urb->actual_length = static_cast<int>(transferred);
                if (in && transferred < length && (urb->flags & USBDEVFS_URB_SHORT_NOT_OK) != 0)
                    urb->status = -EREMOTEIO;
            }
        }
        state.reapable.push_back(std::move(urbData));
        Complete(client, 0, 0);
    }
};

bool UmockdevPreloadActive() {
    // umockdev's own check looks at the testbed variable, which only a
    // testbed sets; what matters is whether the library is mapped.
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    if (!maps) return false;
    char line[4096];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, maps))
        found = std::strstr(line, "libumockdev-preload") != nullptr;
    std::fclose(maps);
    return found;
}

UsbfsTestbed::UsbfsTestbed() {
    if (!UmockdevPreloadActive()) {
        ADD_FAILURE() << "the umockdev preload library is not active; run the tests through their main()";
        return;
    }
    m_testbed = umockdev_testbed_new();
}

UsbfsTestbed::~UsbfsTestbed() {
    if (!m_testbed) return;
    for (auto& device : m_devices)
        device->vanish();
    g_object_unref(m_testbed); // detaches every handler
    m_devices.clear();
}

void UsbfsTestbed::plug(std::shared_ptr<VirtualInstrument> instrument) {
    if (!m_testbed) return;
    if (!m_sysfsPath.empty()) unplug();
    unsigned devnum = m_nextDevnum++;
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/001/%03u", devnum);
    // Everything in one record, so the "add" uevent that umockdev sends goes
    // out with the descriptors already in place: libusb's hot-plug thread
    // reads them as soon as it sees the event.
    std::string record = "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1\n"
                         "N: " +
                         std::string(node) +
                         "\n"
                         "E: SUBSYSTEM=usb\n"
                         "E: DEVTYPE=usb_device\n"
                         "E: DEVNAME=/dev/" +
                         node +
                         "\n"
                         "E: BUSNUM=001\n"
                         "E: DEVNUM=" +
                         std::string(node + 12) +
                         "\n"
                         "A: busnum=1\\n\n"
                         "A: devnum=" +
                         std::to_string(devnum) +
                         "\\n\n"
                         "A: dev=189:" +
                         std::to_string(devnum - 1) +
                         "\\n\n"
                         "A: idVendor=10c4\\n\n"
                         "A: idProduct=ea61\\n\n"
                         "A: bConfigurationValue=1\\n\n"
                         "A: bNumConfigurations=1\\n\n"
                         "A: speed=12\\n\n"
                         "H: descriptors=" +
                         Hex(kDescriptors, sizeof kDescriptors) + "\n";
    auto device = std::make_unique<EmulatedBridgeDevice>(std::move(instrument));
    m_nodePath = "/dev/" + std::string(node);
    GError* error = nullptr;
    // The handler goes in before the device is announced, so no client can
    // reach a node without one.
    if (!umockdev_testbed_attach_ioctl(m_testbed, m_nodePath.c_str(), device->handler(), &error) ||
        !umockdev_testbed_add_from_string(m_testbed, record.c_str(), &error)) {
        ADD_FAILURE() << "umockdev refused the bridge: " << (error ? error->message : "?");
        if (error) g_error_free(error);
        return;
    }
    m_sysfsPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
    m_devices.push_back(std::move(device));
}

void UsbfsTestbed::vanish() {
    if (!m_devices.empty()) m_devices.back()->vanish();
}

void UsbfsTestbed::unplug() {
    if (!m_testbed || m_sysfsPath.empty()) return;
    vanish();
    // The uevent carries the node name libusb needs to find the device, so it
    // goes out while the sysfs entry still exists.
    umockdev_testbed_uevent(m_testbed, m_sysfsPath.c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, m_sysfsPath.c_str());
    m_sysfsPath.clear();
}

void UsbfsTestbed::chmodNode(unsigned mode) {
    if (!m_testbed) return;
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    std::string path = std::string(root) + m_nodePath;
    g_free(root);
    if (::chmod(path.c_str(), mode) != 0) ADD_FAILURE() << "chmod " << path << ": " << std::strerror(errno);
}

void UsbfsTestbed::setUnresponsive(bool on) {
    if (!m_devices.empty()) m_devices.back()->setUnresponsive(on);
}

void UsbfsTestbed::stallNext(std::uint8_t endpoint) {
    if (!m_devices.empty()) m_devices.back()->stallNext(endpoint);
}

UsbfsStats UsbfsTestbed::stats() const {
    return m_devices.empty() ? UsbfsStats{} : m_devices.back()->stats();
}

std::vector<std::string> UsbfsTestbed::hostFaults() const {
    std::vector<std::string> all;
    for (const auto& device : m_devices)
        for (const std::string& f : device->faults())
            all.push_back(f);
    return all;
}

} // namespace veltrane::test
