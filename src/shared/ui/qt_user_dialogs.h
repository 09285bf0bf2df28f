#pragma once

#include "shared/user_dialogs.h"

class QWidget;

namespace veltrane {

// Real message boxes and file dialogs.
class QtUserDialogs : public UserDialogs {
public:
    DialogAnswer message(const std::string& text, const std::string& caption, MessageIcon icon,
                         MessageButtons buttons) override;
    std::optional<std::string> openFile(const std::string& filter) override;
    std::optional<std::string> saveFile(const std::string& filter, const std::string& initialName) override;

    // "rsd(*.rsd)|*.rsd" becomes "rsd (*.rsd)": the part before each '|' names
    // the filter, the part after holds the patterns.
    static std::string ToQtFilter(const std::string& filter);
};

} // namespace veltrane
