// The report's drawing as a module of its own, loaded by veltrane-cli only
// for the report command (see cli/report_module.h for why).
#include <QGuiApplication>
#include <cstring>
#include <memory>
#include <string>

#include "cli/report_module.h"
#include "identify/ui/report_page.h"

namespace {

// Drawing text needs Qt's font database, which lives in a GUI application;
// the command line has no screen, so it draws off-screen.
class OffscreenGui {
public:
    OffscreenGui() {
        if (QCoreApplication::instance()) return;
        // Qt's own warnings (no runtime folder, no screen) are not the
        // command's to print.
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        m_app = std::make_unique<QGuiApplication>(m_argc, m_argv);
    }
    ~OffscreenGui() {
        if (!m_app) return;
        m_app.reset();
        qInstallMessageHandler(m_previous);
    }
    OffscreenGui(const OffscreenGui&) = delete;
    OffscreenGui& operator=(const OffscreenGui&) = delete;

private:
    int m_argc = 3;
    char m_name[13] = "veltrane-cli";
    char m_option[10] = "-platform";
    char m_platform[10] = "offscreen";
    char* m_argv[4] = {m_name, m_option, m_platform, nullptr};
    std::unique_ptr<QGuiApplication> m_app;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

extern "C" __attribute__((visibility("default"))) int veltrane_report_pdf(const char* tag,
                                                                          const veltrane::IdentificationReport* report,
                                                                          int paper, std::string* pdf) {
    if (!tag || veltrane::ReportModuleTag() != tag) return veltrane::kReportOtherBuild;
    OffscreenGui gui;
    *pdf = veltrane::ReportPdf(*report, paper == 1 ? veltrane::ReportPaper::Letter : veltrane::ReportPaper::A4);
    return pdf->empty() ? veltrane::kReportNotDrawn : veltrane::kReportDrawn;
}
