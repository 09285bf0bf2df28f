#include "device/device_connection.h"

#include <algorithm>

#include "measure/spectral_axis.h"
#include "platform/byte_order.h"

namespace veltrane {

bool IsSmallSensorType(std::uint8_t type) {
    switch (type) {
    case 162: case 163: case 165: case 167: case 177: case 178:
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

DeviceConnection IdentifyDevice(DeviceLink& link, ProgramState& state, IdentifyOutcome* outcome) {
    auto finish = [&](IdentifyOutcome o, DeviceConnection c) {
        if (outcome) *outcome = o;
        return c;
    };
    if (!link.CountDevices()) {
        state.deviceIdentified = false;
        return finish(IdentifyOutcome::NoDevice, DeviceConnection::Disconnected);
    }
    if (state.deviceIdentified) return finish(IdentifyOutcome::AlreadyIdentified, DeviceConnection::Connected);

    bool read = link.ReadAuxInfoA();
    read = link.ReadAuxInfoB() && read;
    read = link.ReadSensorRecord() && read;
    read = link.ReadDeviceRecord() && read;
    if (!read) return finish(IdentifyOutcome::RecordsUnreadable, DeviceConnection::Disconnected);

    auto device = link.deviceRecord();
    if (!IsSmallSensorType(device[wire::kDeviceOffType])) {
        auto sensor = link.sensorRecord();
        if (!SensorGeometryUsable(GetU16(sensor.data() + wire::kSensorOffTotal),
                                  GetU16(sensor.data() + wire::kSensorOffFirst),
                                  GetU16(sensor.data() + wire::kSensorOffLast)))
            return finish(IdentifyOutcome::Refused, DeviceConnection::Disconnected);
    }
    state.deviceIdentified = true;
    return finish(IdentifyOutcome::Identified, DeviceConnection::NewlyConnected);
}

void ApplyDeviceRecords(ProgramState& state, const std::array<std::uint8_t, wire::kSensorRecordSize>& sensor,
                        const std::array<std::uint8_t, wire::kDeviceRecordSize>& device) {
    const std::uint8_t* d = device.data();
    const std::uint8_t* serial = d + wire::kDeviceOffOpticsSerial;
    std::size_t serialLength =
        std::find(serial, serial + wire::kOpticsSerialSize, std::uint8_t{0}) - serial;
    state.opticsSerial.assign(reinterpret_cast<const char*>(serial), serialLength);
    std::uint8_t reported = d[wire::kDeviceOffType];
    state.deviceType = reported;
    state.laserWavelength = GetF32(d + wire::kDeviceOffLaser);
    state.deviceSerial = GetU32(d + wire::kDeviceOffSerial);
    state.hwVersionMinor = d[wire::kDeviceOffHwMinor];
    state.hwVersionMajor = d[wire::kDeviceOffHwMajor];
    state.fwVersionMinor = GetU16(d + wire::kDeviceOffFwMinor);
    state.fwVersionMajor = GetU16(d + wire::kDeviceOffFwMajor);

    if (IsSmallSensorType(reported)) {
        state.deviceType = 1;
        state.pixelTotal = 256;
        state.pixelCount = 256;
    } else {
        state.pixelTotal = GetU16(sensor.data() + wire::kSensorOffTotal);
        state.pixelFirst = GetU16(sensor.data() + wire::kSensorOffFirst);
        state.pixelLast = GetU16(sensor.data() + wire::kSensorOffLast);
        state.pixelCount = static_cast<std::uint16_t>(state.pixelLast - state.pixelFirst + 1);
    }

    state.modelName = ModelName(reported, state.brandVariant);
    if (reported == 179) {
        state.displayLow = 400;
        state.displayHigh = 4000;
    } else if (reported == 180) {
        state.displayLow = 400;
        state.displayHigh = 3000;
    }
    if (state.waveCalValid && !CalibratedAxisUsable(state)) {
        std::copy(std::begin(kDefaultWaveCal), std::end(kDefaultWaveCal), state.waveCal.begin());
        state.waveCalValid = false;
    }
    if (!state.waveCalValid) {
        state.displayLow = 1;
        state.displayHigh = state.pixelCount;
    }
}

CheckResult CheckDevice(DeviceLink& link, Clock& clock, ProgramState& state, bool identificationAllowed) {
    CheckResult result;
    if (!identificationAllowed && !state.deviceIdentified && link.CountDevices()) {
        result.outcome = IdentifyOutcome::Postponed;
        state.deviceState = DeviceConnection::Disconnected;
        return result;
    }
    DeviceConnection connection = IdentifyDevice(link, state, &result.outcome);
    state.deviceState = connection;

    if (connection == DeviceConnection::NewlyConnected) {
        result.calibration = ReadCalibration(link, clock, state);
        ApplyDeviceRecords(state, link.sensorRecord(), link.deviceRecord());
        if (state.activeMode == ActiveMode::Spectrum) state.progress.measureTime.store(0, std::memory_order_relaxed);
        state.spectrum.haveMeasured = false;
        state.spectrum.haveFileData = false;
        state.deviceState = DeviceConnection::Connected;
        result.newlyIdentified = true;
        result.showCalibrationMissing = !state.waveCalValid;
        result.state = DeviceConnection::Connected;
        return result;
    }
    result.state = connection;
    if (connection == DeviceConnection::Disconnected) {
        state.deviceIdentified = false;
        state.measureState.store(0, std::memory_order_release);
        state.measureStatus.store(0, std::memory_order_relaxed);
        state.transferState.store(0, std::memory_order_release);
        state.lib.transferStatus.store(0, std::memory_order_relaxed);
        if (result.outcome == IdentifyOutcome::Refused) {
            result.showDeviceRefused = !state.deviceRefusalShown;
            state.deviceRefusalShown = true;
        } else if (result.outcome == IdentifyOutcome::NoDevice) {
            state.deviceRefusalShown = false;
        }
    }
    return result;
}

DeviceTree DeviceTreeLines(const ProgramState& state) {
    DeviceTree tree;
    tree.root = state.modelName;
    if (!state.waveCalValid) tree.children.push_back("Wave cal not exist!");
    tree.children.push_back("HW S/N: " + std::to_string(state.hwVersionMajor) + "." +
                            std::to_string(state.hwVersionMinor));
    tree.children.push_back("FW S/N: " + std::to_string(state.fwVersionMajor) + "." +
                            std::to_string(state.fwVersionMinor));
    tree.children.push_back("Opt S/N: " + state.opticsSerial);
    tree.children.push_back("Dev S/N: " + std::to_string(state.deviceSerial));
    return tree;
}

} // namespace veltrane
