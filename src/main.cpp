#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <QTextStream>
#include <cmath>
#include <csignal>
#include <iostream>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

#include "app/ui/application.h"
#include "platform/ini_file.h"
#include "platform/null_bridge.h"
#include "shared/ui/qt_user_dialogs.h"
#ifdef VELTRANE_WITH_LIBUSB
#include "platform/libusb_backend.h"
#include "platform/libusb_bridge.h"
#endif
#include "platform/paths.h"
#include "sim/simulated_bridge.h"

using namespace veltrane;

namespace {

int g_signalPipe[2] = {-1, -1};

void ForwardSignal(int) {
    char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(g_signalPipe[0], &byte, 1);
}

// A logout, `kill` or Ctrl-C in the terminal closes the main window as the
// close button does: the laser is switched off, a running worker is waited
// for and the settings are written. Nobody may be at the screen then, so a
// failure is told on standard error and in the exit status, never in a box
// that would keep the program from ending. The handler only writes a byte;
// the window is closed from the event loop.
void CloseOnTerminationSignals(VeltraneApplication& veltrane) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    QWidget& window = veltrane.mainWindow();
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&veltrane] {
        char byte;
        [[maybe_unused]] ssize_t got = ::read(g_signalPipe[1], &byte, 1);
        veltrane.closeOnSignal(std::cerr);
    });
    struct sigaction action {};
    action.sa_handler = ForwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

// The options QGuiApplication and QApplication take for themselves.
bool OnlyQtOptionsUnknown(const QStringList& unknown) {
    static const QStringList qtOptions = {"platform",
                                          "platformpluginpath",
                                          "platformtheme",
                                          "plugin",
                                          "qwindowgeometry",
                                          "qwindowicon",
                                          "qwindowtitle",
                                          "reverse",
                                          "session",
                                          "display",
                                          "geometry",
                                          "style",
                                          "stylesheet",
                                          "widgetcount",
                                          "qmljsdebugger",
                                          "name",
                                          "title",
                                          "visual",
                                          "ncols",
                                          "cmap",
                                          "nograb",
                                          "dograb",
                                          "sync",
                                          "fn",
                                          "font",
                                          "bg",
                                          "background",
                                          "fg",
                                          "foreground",
                                          "btn",
                                          "button",
                                          "im",
                                          "inputstyle",
                                          "testability"};
    for (const QString& name : unknown)
        if (!qtOptions.contains(name)) return false;
    return !unknown.isEmpty();
}

} // namespace

int main(int argc, char* argv[]) {
    // The command line is read before the window system is touched, so
    // --help and --version answer on a machine without a display too.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // The only options choose what stands behind the USB bridge; the program
    // itself has no command-line options.
    QCommandLineParser parser;
    parser.setApplicationDescription("Veltrane, companion of the portable Raman spectrometer.");
    // Qt's options are words after a single dash (-platform), not letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption simulator("simulator", "Attach the virtual instrument instead of the USB bridge.");
    QCommandLineOption model("model",
                             "Virtual instrument model: 2500 (TL100/QX810A, 532 nm), 2048 (TL200/QX810B, 785 nm), "
                             "256 (256-pixel sensor) or unknown.",
                             "model", "2500");
    QCommandLineOption sample("sample",
                              "Sample in the virtual instrument: polystyrene, cyclohexane, paracetamol, ethanol "
                              "or empty.",
                              "sample", "polystyrene");
    QCommandLineOption noCalibration("no-calibration", "The virtual instrument has no wavelength calibration file.");
    QCommandLineOption axisError("axis-error",
                                 "The virtual instrument's Raman-shift axis reads this many cm-1 high (for trying "
                                 "Check Raman Axis).",
                                 "cm", "0");
    QCommandLineOption seed("seed",
                            "Noise seed of the virtual instrument: the same seed gives the same frames again "
                            "(without it every run differs).",
                            "n");
    parser.addOptions({simulator, model, sample, noCalibration, axisError, seed});
    // Qt's own options (-platform and the like) are only known once the
    // application object has taken them out; a line that fails on those alone
    // is read again after that. Any other mistake is told here, display or not.
    const bool parsed = parser.parse(arguments);
    if (!parsed && !OnlyQtOptionsUnknown(parser.unknownOptionNames())) {
        QTextStream(stderr) << parser.errorText() << "\nSee --help.\n";
        return 64;
    }
    if (parsed && (parser.isSet(help) || parser.isSet(version) || parser.optionNames().contains("help-all"))) {
        // Qt's own help and version texts need an application object, but
        // not a window system; they end the program.
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName("Veltrane");
        QCoreApplication::setApplicationVersion(kVersionText);
        parser.process(core);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Veltrane");
    QApplication::setApplicationVersion(kVersionText);
    parser.process(app);

    std::optional<SimModel> simModel = SimModelByName(parser.value(model).toStdString());
    std::optional<SimSample> simSample = SimSampleByName(parser.value(sample).toStdString());
    if (!simModel || !simSample) {
        QTextStream(stderr) << "Unknown model or sample; see --help.\n";
        return 2;
    }
    bool axisErrorRead = false;
    const double simAxisError = parser.value(axisError).toDouble(&axisErrorRead);
    if (!axisErrorRead || !(std::abs(simAxisError) <= 100.0)) {
        QTextStream(stderr) << "The axis error is a number of cm-1 from -100 to 100; see --help.\n";
        return 2;
    }

    std::uint64_t simSeed = 0;
    if (parser.isSet(seed)) {
        bool seedRead = false;
        simSeed = parser.value(seed).toULongLong(&seedRead);
        if (!seedRead) {
            QTextStream(stderr) << "The seed is a whole number from 0 to 18446744073709551615; see --help.\n";
            return 2;
        }
    } else {
        simSeed = FreshSimSeed();
    }

    SteadyClock clock;
    AppPaths paths = ResolveAppPaths(ExecutablePath());
    std::unique_ptr<UsbBridge> bridge;
    if (parser.isSet(simulator)) {
        auto simulated = std::make_unique<SimulatedBridge>();
        auto instrument = std::make_shared<VirtualInstrument>(clock, *simModel, *simSample, simSeed);
        instrument->setLogLimit(2000);
        instrument->loadDefaultLibraryStore();
        if (parser.isSet(noCalibration)) instrument->removeFile(wire::kCalibrationPath);
        instrument->setAxisError(simAxisError);
        simulated->attach(instrument);
        bridge = std::move(simulated);
    } else {
#ifdef VELTRANE_WITH_LIBUSB
        bridge = std::make_unique<LibusbBridge>(MakeLibusbBackend(), ReadUsbDeviceIds(IniFile(paths.settingsFile)));
#else
        bridge = std::make_unique<NullBridge>();
#endif
    }

    QtUserDialogs dialogs;
    VeltraneApplication veltrane(*bridge, clock, dialogs, paths);
    veltrane.mainWindow().show();
    CloseOnTerminationSignals(veltrane);
    // A full disk should fail a write, not end the program with a temporary
    // file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    int status = app.exec();
    return status != 0 ? status : veltrane.exitStatus();
}
