#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/virtual_instrument.h"

struct _UMockdevTestbed;

namespace veltrane::test {

class EmulatedBridgeDevice;

// What the emulated bridge saw of the host, for assertions.
struct UsbfsStats {
    std::uint32_t claims = 0;
    std::uint32_t releases = 0;
    std::uint32_t opens = 0; // of the device node
    // The kernel's serial driver taken off interface 0, and bound to it again.
    std::uint32_t serialDriverUnbinds = 0;
    std::uint32_t serialDriverBinds = 0;
    std::vector<std::uint8_t> clearedHalts; // endpoints, in order
    std::uint32_t urbs = 0;
    std::uint32_t discards = 0; // URBs the host cancelled while in flight
};

// A umockdev testbed holding the instrument's USB bridge as the kernel shows
// it to libusb: a sysfs entry with the bridge's IDs and descriptors, a usbfs
// node under /dev/bus/usb, hot-plug uevents, and the usbfs ioctls answered
// by an emulated device whose bulk pipes lead to a VirtualInstrument. libusb
// runs unchanged on top of it, so the bridge's real libusb calls are what is
// tested. Needs the umockdev preload library in the process (see main).
class UsbfsTestbed {
public:
    UsbfsTestbed();
    ~UsbfsTestbed();
    UsbfsTestbed(const UsbfsTestbed&) = delete;
    UsbfsTestbed& operator=(const UsbfsTestbed&) = delete;

    // Plugs the bridge in under the next device address, as a replug does on
    // real hardware, and announces it with an "add" uevent.
    void plug(std::shared_ptr<VirtualInstrument> instrument);
    // Pulls the bridge: its open fds get ENODEV for everything, then the
    // "remove" uevent goes out and its sysfs entry and node vanish.
    void unplug();
    // Only the device side: every request on the bridge's fds fails with
    // ENODEV while its node and sysfs entry are still there (the moment
    // between the pull and udev noticing it).
    void vanish();

    // The permission bits of the bridge's device node.
    void chmodNode(unsigned mode);

    // The device stops answering: URBs stay in flight until the host
    // discards them, as with a bridge whose firmware has hung.
    void setUnresponsive(bool on);

    // The endpoint halts at its next URB and stays halted until the host
    // clears it; a halted IN endpoint throws away the reply the device had
    // for it, as the bridge's firmware does when it aborts an exchange.
    void stallNext(std::uint8_t endpoint);

    UsbfsStats stats() const;
    // Things the host did that a real usbfs would refuse or that leave the
    // bridge in a bad state (URBs on an unclaimed interface, unknown
    // requests). Tests expect none.
    std::vector<std::string> hostFaults() const;

private:
    _UMockdevTestbed* m_testbed = nullptr;
    std::vector<std::unique_ptr<EmulatedBridgeDevice>> m_devices; // every plugging, the last is current
    std::string m_sysfsPath;
    std::string m_nodePath;
    unsigned m_nextDevnum = 2;
};

// Whether the umockdev preload library is active in this process.
bool UmockdevPreloadActive();

} // namespace veltrane::test
