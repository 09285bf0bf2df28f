#include "platform/libusb_backend.h"

#include <libusb.h>

#include <algorithm>

namespace veltrane {

namespace {

UsbError FromLibusb(int code) {
    switch (code) {
    case LIBUSB_SUCCESS:
        return UsbError::Success;
    case LIBUSB_ERROR_TIMEOUT:
        return UsbError::Timeout;
    case LIBUSB_ERROR_NO_DEVICE:
        return UsbError::NoDevice;
    case LIBUSB_ERROR_NOT_FOUND:
        return UsbError::NotFound;
    case LIBUSB_ERROR_ACCESS:
        return UsbError::Access;
    case LIBUSB_ERROR_PIPE:
        return UsbError::Pipe;
    case LIBUSB_ERROR_BUSY:
        return UsbError::Busy;
    default:
        return UsbError::Other;
    }
}

libusb_device_handle* Native(UsbDeviceHandle handle) {
    return reinterpret_cast<libusb_device_handle*>(handle);
}

class LibusbBackend : public UsbBackend {
public:
    LibusbBackend() {
        if (libusb_init(&m_context) != LIBUSB_SUCCESS) m_context = nullptr;
    }
    ~LibusbBackend() override {
        forgetListed();
        if (m_context) libusb_exit(m_context);
    }

    UsbError listDevices(const std::vector<UsbDeviceId>& ids, std::uint32_t& count) override {
        count = 0;
        forgetListed();
        if (!m_context) return UsbError::Other;
        libusb_device** list = nullptr;
        ssize_t n = libusb_get_device_list(m_context, &list);
        if (n < 0) return FromLibusb(static_cast<int>(n));
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(list[i], &desc) != LIBUSB_SUCCESS) continue;
            UsbDeviceId id{desc.idVendor, desc.idProduct};
            if (std::find(ids.begin(), ids.end(), id) == ids.end()) continue;
            // Kept referenced until the next listing, so open() finds the
            // same device the count saw.
            m_listed.push_back(libusb_ref_device(list[i]));
        }
        libusb_free_device_list(list, 1);
        count = static_cast<std::uint32_t>(m_listed.size());
        return UsbError::Success;
    }

    UsbError open(std::uint32_t index, UsbDeviceHandle& handle) override {
        handle = 0;
        if (index >= m_listed.size()) return UsbError::NotFound;
        libusb_device_handle* native = nullptr;
        int rc = libusb_open(m_listed[index], &native);
        if (rc != LIBUSB_SUCCESS) return FromLibusb(rc);
        handle = reinterpret_cast<UsbDeviceHandle>(native);
        return UsbError::Success;
    }

    UsbError interfaces(UsbDeviceHandle handle, std::vector<UsbInterfaceInfo>& out) override {
        out.clear();
        libusb_config_descriptor* config = nullptr;
        int rc = libusb_get_active_config_descriptor(libusb_get_device(Native(handle)), &config);
        if (rc != LIBUSB_SUCCESS) return FromLibusb(rc);
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            const libusb_interface& itf = config->interface[i];
            for (int a = 0; a < itf.num_altsetting; ++a) {
                const libusb_interface_descriptor& alt = itf.altsetting[a];
                UsbInterfaceInfo info;
                info.number = alt.bInterfaceNumber;
                info.alternate = alt.bAlternateSetting;
                for (int e = 0; e < alt.bNumEndpoints; ++e)
                    info.endpoints.push_back({alt.endpoint[e].bEndpointAddress, alt.endpoint[e].bmAttributes});
                out.push_back(std::move(info));
            }
        }
        libusb_free_config_descriptor(config);
        return UsbError::Success;
    }

    UsbError claimInterface(UsbDeviceHandle handle, std::uint8_t number) override {
        libusb_device_handle* native = Native(handle);
        // Linux binds its cp210x serial driver to Silicon Labs' factory IDs,
        // the USBXpress one included. It is taken off the interface for
        // good, not with libusb's auto-detach: that hands the interface back
        // at every release, and as each command opens and closes the bridge
        // the serial driver would be bound and unbound around every one of
        // them, a tty appearing and vanishing (and probed by whatever
        // watches new ttys) between the commands of a measurement. Where
        // the query is not supported nothing is bound that could be.
        if (libusb_kernel_driver_active(native, number) == 1) {
            int rc = libusb_detach_kernel_driver(native, number);
            if (rc != LIBUSB_SUCCESS && rc != LIBUSB_ERROR_NOT_FOUND) return FromLibusb(rc);
        }
        return FromLibusb(libusb_claim_interface(native, number));
    }
    UsbError releaseInterface(UsbDeviceHandle handle, std::uint8_t number) override {
        return FromLibusb(libusb_release_interface(Native(handle), number));
    }
    void close(UsbDeviceHandle handle) override { libusb_close(Native(handle)); }

    UsbError bulkTransfer(UsbDeviceHandle handle, std::uint8_t endpoint, std::uint8_t* data, std::uint32_t length,
                          std::uint32_t& transferred, std::uint32_t timeoutMs) override {
        int done = 0;
        // libusb reads a zero time-out as "wait for ever"; a bridge that
        // never answers must not hang the program, so 0 becomes 1 ms.
        unsigned int timeout = timeoutMs == 0 ? 1 : timeoutMs;
        int rc = libusb_bulk_transfer(Native(handle), endpoint, data, static_cast<int>(length), &done, timeout);
        transferred = done > 0 ? static_cast<std::uint32_t>(done) : 0;
        return FromLibusb(rc);
    }

    UsbError clearHalt(UsbDeviceHandle handle, std::uint8_t endpoint) override {
        return FromLibusb(libusb_clear_halt(Native(handle), endpoint));
    }

private:
    void forgetListed() {
        for (libusb_device* device : m_listed)
            libusb_unref_device(device);
        m_listed.clear();
    }

    libusb_context* m_context = nullptr;
    std::vector<libusb_device*> m_listed;
};

} // namespace

std::unique_ptr<UsbBackend> MakeLibusbBackend() {
    return std::make_unique<LibusbBackend>();
}

} // namespace veltrane
