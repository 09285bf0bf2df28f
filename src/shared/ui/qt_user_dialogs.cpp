#include "shared/ui/qt_user_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace veltrane {

DialogAnswer QtUserDialogs::message(const std::string& text, const std::string& caption, MessageIcon icon,
                                    MessageButtons buttons) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setIcon(icon == MessageIcon::Error     ? QMessageBox::Critical
                : icon == MessageIcon::Warning ? QMessageBox::Warning
                                               : QMessageBox::NoIcon);
    box.setStandardButtons(buttons == MessageButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                               : QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? DialogAnswer::Ok : DialogAnswer::Cancel;
}

std::string QtUserDialogs::ToQtFilter(const std::string& filter) {
    std::string result;
    std::size_t at = 0;
    while (at < filter.size()) {
        std::size_t bar = filter.find('|', at);
        if (bar == std::string::npos) break;
        std::size_t next = filter.find('|', bar + 1);
        std::string name = filter.substr(at, bar - at);
        std::string patterns = filter.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
        for (char& c : patterns)
            if (c == ';') c = ' ';
        std::size_t paren = name.find('(');
        std::string label = paren == std::string::npos ? name : name.substr(0, paren);
        if (!result.empty()) result += ";;";
        result += label + " (" + patterns + ")";
        if (next == std::string::npos) break;
        at = next + 1;
    }
    return result.empty() ? filter : result;
}

std::optional<std::string> QtUserDialogs::openFile(const std::string& filter) {
    QString name = QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), QString(),
                                                QString::fromStdString(ToQtFilter(filter)));
    if (name.isEmpty()) return std::nullopt;
    return name.toStdString();
}

std::optional<std::string> QtUserDialogs::saveFile(const std::string& filter, const std::string& initialName) {
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QString::fromStdString(ToQtFilter(filter)));
    // A name typed without extension gets the filter's, as "*.rsd" suggests.
    std::size_t dot = filter.find("*.");
    if (dot != std::string::npos) {
        std::string suffix = filter.substr(dot + 2);
        suffix = suffix.substr(0, suffix.find_first_of(";|) "));
        dialog.setDefaultSuffix(QString::fromStdString(suffix));
    }
    if (initialName.find('*') == std::string::npos) dialog.selectFile(QString::fromStdString(initialName));
    // Qt's save dialog asks before replacing an existing file.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

} // namespace veltrane
