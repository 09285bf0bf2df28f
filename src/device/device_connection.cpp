#include "device/device_connection.h"

#include <algorithm>

#include "device/wave_calibration.h"
#include "platform/byte_order.h"

namespace veltrane {

bool IsSmallSensorType(std::uint8_t type) {
    switch (type) {
    case 162:
    case 163:
    case 165:
    case 167:
    case 177:
    case 178:
        return true;
    default:
        return false;
    }
}

std::string ModelName(std::uint8_t type, BrandVariant brand) {
    bool korvel = brand == BrandVariant::Korvel;
    if (type == 179) return korvel ? "QX810A" : "TL100";
    if (type == 180) return korvel ? "QX810B" : "TL200";
    return "Unknow";
}

bool SensorGeometryUsable(std::uint16_t total, std::uint16_t first, std::uint16_t last) {
    if (total > kMaxFrameLength) return false;
    if (last < first) return false;
    std::uint32_t count = static_cast<std::uint32_t>(last) - first + 1;
    return count <= kMaxPixels && first + count <= total;
}

DeviceConnection IdentifyDevice(DeviceLink& link, DeviceInfo& device, IdentifyOutcome* outcome) {
    auto finish = [&](IdentifyOutcome o, DeviceConnection c) {
        if (outcome) *outcome = o;
        return c;
    };
    if (!link.CountDevices()) {
        device.deviceIdentified = false;
        return finish(IdentifyOutcome::NoDevice, DeviceConnection::Disconnected);
    }
    if (device.deviceIdentified) return finish(IdentifyOutcome::AlreadyIdentified, DeviceConnection::Connected);

    bool read = link.ReadAuxInfoA();
    read = link.ReadAuxInfoB() && read;
    read = link.ReadSensorRecord() && read;
    read = link.ReadDeviceRecord() && read;
    if (!read) return finish(IdentifyOutcome::RecordsUnreadable, DeviceConnection::Disconnected);

    auto record = link.deviceRecord();
    if (!IsSmallSensorType(record[wire::kDeviceOffType])) {
        auto sensor = link.sensorRecord();
        if (!SensorGeometryUsable(GetU16(sensor.data() + wire::kSensorOffTotal),
                                  GetU16(sensor.data() + wire::kSensorOffFirst),
                                  GetU16(sensor.data() + wire::kSensorOffLast)))
            return finish(IdentifyOutcome::Refused, DeviceConnection::Disconnected);
    }
    device.deviceIdentified = true;
    return finish(IdentifyOutcome::Identified, DeviceConnection::NewlyConnected);
}

void ApplyDeviceRecords(DeviceInfo& device, const std::array<std::uint8_t, wire::kSensorRecordSize>& sensor,
                        const std::array<std::uint8_t, wire::kDeviceRecordSize>& record) {
    const std::uint8_t* d = record.data();
    const std::uint8_t* serial = d + wire::kDeviceOffOpticsSerial;
    std::size_t serialLength = std::find(serial, serial + wire::kOpticsSerialSize, std::uint8_t{0}) - serial;
    device.opticsSerial.assign(reinterpret_cast<const char*>(serial), serialLength);
    std::uint8_t reported = d[wire::kDeviceOffType];
    device.deviceType = reported;
    device.laserWavelength = GetF32(d + wire::kDeviceOffLaser);
    device.deviceSerial = GetU32(d + wire::kDeviceOffSerial);
    device.hwVersionMinor = d[wire::kDeviceOffHwMinor];
    device.hwVersionMajor = d[wire::kDeviceOffHwMajor];
    device.fwVersionMinor = GetU16(d + wire::kDeviceOffFwMinor);
    device.fwVersionMajor = GetU16(d + wire::kDeviceOffFwMajor);

    if (IsSmallSensorType(reported)) {
        device.deviceType = 1;
        device.pixelTotal = 256;
        device.pixelCount = 256;
    } else {
        device.pixelTotal = GetU16(sensor.data() + wire::kSensorOffTotal);
        device.pixelFirst = GetU16(sensor.data() + wire::kSensorOffFirst);
        device.pixelLast = GetU16(sensor.data() + wire::kSensorOffLast);
        device.pixelCount = static_cast<std::uint16_t>(device.pixelLast - device.pixelFirst + 1);
    }

    device.modelName = ModelName(reported, device.brandVariant);
    if (reported == 179) {
        device.displayLow = 400;
        device.displayHigh = 4000;
    } else if (reported == 180) {
        device.displayLow = 400;
        device.displayHigh = 3000;
    }
    if (device.waveCalValid && !CalibratedAxisUsable(device)) {
        std::copy(std::begin(kDefaultWaveCal), std::end(kDefaultWaveCal), device.waveCal.begin());
        device.waveCalValid = false;
    }
    if (!device.waveCalValid) {
        device.displayLow = 1;
        device.displayHigh = device.pixelCount;
    }
}

CheckResult CheckDevice(DeviceLink& link, Clock& clock, DeviceInfo& device, bool identificationAllowed) {
    CheckResult result;
    if (!identificationAllowed && !device.deviceIdentified && link.CountDevices()) {
        result.outcome = IdentifyOutcome::Postponed;
        device.deviceState = DeviceConnection::Disconnected;
        return result;
    }
    DeviceConnection connection = IdentifyDevice(link, device, &result.outcome);
    device.deviceState = connection;

    if (connection == DeviceConnection::NewlyConnected) {
        result.calibration = ReadCalibration(link, clock, device);
        ApplyDeviceRecords(device, link.sensorRecord(), link.deviceRecord());
        device.deviceState = DeviceConnection::Connected;
        result.newlyIdentified = true;
        result.showCalibrationMissing = !device.waveCalValid;
        result.state = DeviceConnection::Connected;
        return result;
    }
    result.state = connection;
    if (connection == DeviceConnection::Disconnected) {
        device.deviceIdentified = false;
        result.lost = true;
        if (result.outcome == IdentifyOutcome::Refused) {
            result.showDeviceRefused = !device.deviceRefusalShown;
            device.deviceRefusalShown = true;
        } else if (result.outcome == IdentifyOutcome::NoDevice) {
            device.deviceRefusalShown = false;
        }
    }
    return result;
}

DeviceTree DeviceTreeLines(const DeviceInfo& device) {
    DeviceTree tree;
    tree.root = device.modelName;
    if (!device.waveCalValid) tree.children.push_back("Wave cal not exist!");
    tree.children.push_back("HW S/N: " + std::to_string(device.hwVersionMajor) + "." +
                            std::to_string(device.hwVersionMinor));
    tree.children.push_back("FW S/N: " + std::to_string(device.fwVersionMajor) + "." +
                            std::to_string(device.fwVersionMinor));
    tree.children.push_back("Opt S/N: " + device.opticsSerial);
    tree.children.push_back("Dev S/N: " + std::to_string(device.deviceSerial));
    return tree;
}

} // namespace veltrane
