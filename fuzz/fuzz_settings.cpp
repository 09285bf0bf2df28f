// The settings file: IniFile's reader through ReadSettings and
// ReadUsbDeviceIds, the writer through WriteSettings over whatever the file
// held, and the parsers of single values, ParseWholeNumber (which also reads
// the measurement boxes) and ParseUsbDeviceId.

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>

#include "app/program_state.h"
#include "app/settings.h"
#include "fuzz_support.h"
#include "platform/file_io.h"
#include "platform/usb_device_ids.h"

using namespace veltrane;

namespace {

MeasureBoxTexts StartBoxes() {
    return {"3000", "3", "20000", "100"};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Whatever number is read must read the same when written back.
    if (std::optional<std::int64_t> value = ParseWholeNumber(bytes))
        FUZZ_CHECK(ParseWholeNumber(std::to_string(*value)) == value);

    if (std::optional<UsbDeviceId> id = ParseUsbDeviceId(bytes)) {
        char text[16];
        std::snprintf(text, sizeof text, "%04x:%04X", id->vendor, id->product);
        FUZZ_CHECK(ParseUsbDeviceId(text) == id);
    }

    const std::string path = fuzz::ScratchFolder() + "Setup.ini";
    FUZZ_CHECK(WriteFileAtomically(path, bytes));
    IniFile ini(path);

    // The bridge IDs the settings add: the defaults first, then each other
    // one once, from at most 32 keys.
    const std::vector<UsbDeviceId> ids = ReadUsbDeviceIds(ini);
    const std::size_t defaults = std::size(kDefaultUsbDeviceIds);
    FUZZ_CHECK(ids.size() >= defaults && ids.size() <= defaults + 32);
    FUZZ_CHECK(std::equal(std::begin(kDefaultUsbDeviceIds), std::end(kDefaultUsbDeviceIds), ids.begin()));
    for (std::size_t i = 0; i < ids.size(); ++i)
        FUZZ_CHECK(std::find(ids.begin() + static_cast<std::ptrdiff_t>(i) + 1, ids.end(), ids[i]) == ids.end());

    static auto first = std::make_unique<ProgramState>();
    static auto second = std::make_unique<ProgramState>();
    MeasureBoxTexts boxes = StartBoxes();
    ReadSettings(ini, *first, boxes);
    for (const std::string& key : first->hotkey.keys) {
        // A value is one line, trimmed.
        FUZZ_CHECK(key.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(key.empty() || (key.front() != ' ' && key.back() != ' '));
    }

    // Writing the settings into that same file keeps them: read again, they
    // are what was written.
    FUZZ_CHECK(WriteSettings(ini, boxes, first->hotkey));
    MeasureBoxTexts again = StartBoxes();
    again.exposure = again.average = again.preheat = again.power = "";
    ReadSettings(ini, *second, again);
    FUZZ_CHECK(second->shell.settingsSaved == 1);
    FUZZ_CHECK(again.exposure == boxes.exposure && again.average == boxes.average && again.preheat == boxes.preheat &&
               again.power == boxes.power);
    FUZZ_CHECK(second->hotkey.keys == first->hotkey.keys);

    // The rewrite touched only what it wrote: what the file says beyond the
    // settings is still there, so a key the program never writes reads as before.
    IniFile original(fuzz::ScratchFolder() + "Original.ini");
    FUZZ_CHECK(WriteFileAtomically(original.path(), bytes));
    FUZZ_CHECK(ini.readString("Other", "key", "-") == original.readString("Other", "key", "-"));
    return 0;
}
