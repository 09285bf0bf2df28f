#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "usb/usbfs_testbed.h"

namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";

bool Listing(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) return true;
    return false;
}

} // namespace

// libusb finds devices through sysfs, udev and /dev/bus/usb, and talks to
// them with ioctls; umockdev redirects all of that into its testbed, but only
// from a library preloaded before the program starts. So the program starts
// itself again with the preload in place, and fails when it cannot have it:
// a machine without umockdev must not pass these tests by skipping them.
int main(int argc, char** argv) {
    // Listing needs no testbed, and ctest lists at build time.
    if (!Listing(argc, argv)) {
        const char* preload = std::getenv("LD_PRELOAD");
        if (!preload || !std::strstr(preload, "libumockdev-preload")) {
            std::string value = kPreloadLibrary;
            if (preload && *preload) value += std::string(":") + preload;
            setenv("LD_PRELOAD", value.c_str(), 1);
            // AddressSanitizer insists on being the first library loaded; the
            // preload comes before it, which is harmless here.
            const char* asan = std::getenv("ASAN_OPTIONS");
            std::string options = asan && *asan ? std::string(asan) + ":" : std::string();
            options += "verify_asan_link_order=0";
            setenv("ASAN_OPTIONS", options.c_str(), 1);
            execv("/proc/self/exe", argv);
            std::fprintf(stderr, "cannot restart under the umockdev preload: %s\n", std::strerror(errno));
            return 1;
        }
        if (!veltrane::test::UmockdevPreloadActive()) {
            std::fprintf(stderr, "%s could not be preloaded: install umockdev (scripts/install-deps)\n",
                         kPreloadLibrary);
            return 1;
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
