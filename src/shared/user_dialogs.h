#pragma once

#include <optional>
#include <string>

namespace veltrane {

enum class MessageIcon : std::uint8_t { None, Error, Warning };
enum class MessageButtons : std::uint8_t { Ok, OkCancel };
enum class DialogAnswer : std::uint8_t { Ok, Cancel };

// Every message box and file question of the program goes through here, so
// the windows can be driven by tests that record each message and answer
// each question without ever blocking on a modal box.
class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    virtual DialogAnswer message(const std::string& text, const std::string& caption, MessageIcon icon,
                                 MessageButtons buttons = MessageButtons::Ok) = 0;
    // A filter in the form "rsd(*.rsd)|*.rsd". Empty result: the user cancelled.
    virtual std::optional<std::string> openFile(const std::string& filter) = 0;
    virtual std::optional<std::string> saveFile(const std::string& filter, const std::string& initialName) = 0;
};

} // namespace veltrane
