#pragma once

#include <cstdint>

namespace veltrane {

// Build-time constants.
constexpr const char* kVersionText = "V 1.3 beta";
constexpr const char* kMessageCaption = "Information";
constexpr const char* kDeviceLibraryPath = "/SYS1/QX810LIB.RLB";
constexpr const char* kCompletionMessage = "Process Completed";

// Which brand the build carries: brand images, labels and model names.
enum class BrandVariant : std::uint8_t { Korvel = 0, Brenmor = 1 };
constexpr BrandVariant kBrandVariant = BrandVariant::Brenmor;

} // namespace veltrane
