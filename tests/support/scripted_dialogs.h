#pragma once

#include <deque>
#include <string>
#include <vector>

#include "shared/user_dialogs.h"

namespace veltrane::test {

// Records every message and answers every question from a script, so no
// test ever waits on a modal box. Unscripted questions get OK / cancel.
class ScriptedDialogs : public UserDialogs {
public:
    struct Message {
        std::string text;
        std::string caption;
        MessageIcon icon;
        MessageButtons buttons;
    };
    std::vector<Message> messages;
    std::deque<DialogAnswer> answers;
    std::deque<std::optional<std::string>> openAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    std::vector<std::string> saveInitialNames;
    std::vector<std::string> filters;

    DialogAnswer message(const std::string& text, const std::string& caption, MessageIcon icon,
                         MessageButtons buttons) override {
        messages.push_back({text, caption, icon, buttons});
        if (answers.empty()) return DialogAnswer::Ok;
        DialogAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> openFile(const std::string& filter) override {
        filters.push_back(filter);
        return next(openAnswers);
    }
    std::optional<std::string> saveFile(const std::string& filter, const std::string& initialName) override {
        filters.push_back(filter);
        saveInitialNames.push_back(initialName);
        return next(saveAnswers);
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Message& m : messages) out.push_back(m.text);
        return out;
    }

private:
    static std::optional<std::string> next(std::deque<std::optional<std::string>>& queue) {
        if (queue.empty()) return std::nullopt;
        auto a = queue.front();
        queue.pop_front();
        return a;
    }
};

} // namespace veltrane::test
