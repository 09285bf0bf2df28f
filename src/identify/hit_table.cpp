#include "identify/hit_table.h"

namespace veltrane {

namespace {

std::string Cell(const std::string& text, HitTableForm form) {
    if (form == HitTableForm::Tabs) {
        std::string cell = text;
        for (char& c : cell)
            if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        return cell;
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string cell = "\"";
    for (char c : text) {
        if (c == '"') cell += '"';
        cell += c;
    }
    return cell + "\"";
}

} // namespace

std::string HitTableText(const std::vector<std::vector<std::string>>& rows, HitTableForm form) {
    const char separator = form == HitTableForm::Tabs ? '\t' : ',';
    std::string text;
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (c > 0) text += separator;
            text += Cell(row[c], form);
        }
        text += '\n';
    }
    return text;
}

} // namespace veltrane
