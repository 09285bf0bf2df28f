#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

#include "app/ui/application.h"
#include "app/ui/main_window.h"
#include "platform/libusb_bridge.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

// A USB stack where the bridge is attached but its device node is not ours.
class DeniedBackend : public UsbBackend {
public:
    std::uint32_t* devices;
    explicit DeniedBackend(std::uint32_t* attached) : devices(attached) {}
    UsbError listDevices(const std::vector<UsbDeviceId>&, std::uint32_t& count) override {
        count = *devices;
        return UsbError::Success;
    }
    UsbError open(std::uint32_t, UsbDeviceHandle&) override { return UsbError::Access; }
    UsbError interfaces(UsbDeviceHandle, std::vector<UsbInterfaceInfo>&) override { return UsbError::Other; }
    UsbError claimInterface(UsbDeviceHandle, std::uint8_t) override { return UsbError::Other; }
    UsbError releaseInterface(UsbDeviceHandle, std::uint8_t) override { return UsbError::Other; }
    void close(UsbDeviceHandle) override {}
    UsbError bulkTransfer(UsbDeviceHandle, std::uint8_t, std::uint8_t*, std::uint32_t, std::uint32_t& transferred,
                          std::uint32_t) override {
        transferred = 0;
        return UsbError::Other;
    }
    UsbError clearHalt(UsbDeviceHandle, std::uint8_t) override { return UsbError::Other; }
};

TEST(UsbAccess, NoPermissionIsToldOncePerPlugging) {
    test::TempDir dir;
    VirtualClock clock{50000};
    test::ScriptedDialogs dialogs;
    std::uint32_t attached = 1;
    LibusbBridge bridge(std::make_unique<DeniedBackend>(&attached), {{0x10C4, 0xEA61}});
    auto app = std::make_unique<VeltraneApplication>(bridge, clock, dialogs, AppPathsAt(dir.path()));
    TForm_main& main = app->mainWindow();
    const std::vector<std::string> once{kBridgeAccessDeniedMessage};

    main.Timer_auto_get_deviceTimer();
    main.Timer_auto_get_deviceTimer();
    main.Timer_auto_get_deviceTimer();
    EXPECT_EQ(dialogs.texts(), once);
    EXPECT_FALSE(app->state().device.deviceIdentified);

    attached = 0;
    main.Timer_auto_get_deviceTimer();
    EXPECT_EQ(dialogs.texts(), once);
    attached = 1;
    dialogs.messages.clear();
    main.Timer_auto_get_deviceTimer();
    main.Timer_auto_get_deviceTimer();
    EXPECT_EQ(dialogs.texts(), once);

    main.close();
    app.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
} // namespace veltrane
