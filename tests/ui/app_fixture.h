#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/program_state.h"
#include "app/ui/application.h"
#include "sim/simulated_bridge.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

namespace veltrane::test {

// The whole application on a simulated bridge, a virtual clock, scripted
// dialogs and a temporary folder for its settings and library folders.
class AppFixture : public ::testing::Test {
protected:
    TempDir dir;
    VirtualClock clock{50000};
    // Real time sped up, for tests where a worker thread and the window's
    // timers run together: a 20 s preheat passes in 0.8 s. Not faster: the
    // instrument's 3 s ready waits then last 120 ms of real time, so a test
    // thread that a loaded machine holds back for a few milliseconds does not
    // see a time-out the instrument never gave.
    bool realTime = false;
    std::uint32_t speed = 25;
    std::unique_ptr<ScaledClock> fastClock;
    Clock& appClock() {
        if (!realTime) return clock;
        if (!fastClock) fastClock = std::make_unique<ScaledClock>(speed);
        return *fastClock;
    }
    SimulatedBridge bridge;
    std::shared_ptr<VirtualInstrument> instrument;
    ScriptedDialogs dialogs;
    std::unique_ptr<VeltraneApplication> app;

    void attach(SimModel model = SimModelLarge2500()) {
        instrument = std::make_shared<VirtualInstrument>(appClock(), std::move(model), SimSample::Polystyrene, 3);
        bridge.attach(instrument);
    }
    void start() { app = std::make_unique<VeltraneApplication>(bridge, appClock(), dialogs, AppPathsAt(dir.path())); }
    void TearDown() override {
        if (app) app->mainWindow().close();
        app.reset();
        // Objects Qt handed to deleteLater while the windows went away.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (std::size_t i = 0; i < bridge.instrumentCount(); ++i)
            for (const std::string& v : bridge.instrument(i).violations())
                ADD_FAILURE() << "protocol violation: " << v;
    }

    TForm_main& main() { return app->mainWindow(); }
    ProgramState& state() { return app->state(); }
    template <typename T = QWidget> T* find(const char* name) {
        T* w = main().findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void tick() { main().Timer_auto_get_deviceTimer(); }
    // A spectrum in the buffers as a finished measurement leaves them:
    // signal(i) over a flat dark, for all 2500 pixels.
    template <typename Signal> void fillMeasured(Signal signal, float dark) {
        ProgramState& s = state();
        for (int i = 0; i < 2500; ++i) {
            s.measurement.spectrum.signal[i] = signal(i);
            s.measurement.spectrum.dark[i] = dark;
        }
        s.measurement.spectrum.haveMeasured = true;
    }
    // A typed character, delivered where the window would deliver it.
    void type(QWidget* window, const QString& text) {
        QWidget* target = QApplication::focusWidget();
        if (!target || target->window() != window) target = window;
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
        QApplication::sendEvent(target, &press);
    }
    std::string settingsText() {
        std::ifstream in(dir.path() + "veltrane.ini", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

} // namespace veltrane::test
