#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "app/spectrum_import.h"
#include "identify/ui/identify_controller.h"
#include "library/make_library.h"
#include "measure/ui/measure_controller.h"
#include "identify/ui/report_page.h"
#include "shared/ui/status_panels.h"
#include "support/pdf_text.h"
#include "ui/app_fixture.h"

namespace veltrane {
namespace {

class IdentifyPanel : public test::AppFixture {
protected:
    void capture(SimSample sample) {
        instrument->setSample(sample);
        find<QToolButton>("SpeedButton_msr")->click();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return state().measurement.measureState == 0 && !main().measure().workerBusy(); }, 10000));
        ASSERT_EQ(state().measurement.measureStatus, 1);
    }
    IdentifyController& identify() { return main().identify(); }
    bool searched() {
        return QTest::qWaitFor(
            [&] {
                identify().Timer_identifyTimer();
                return !identify().workerBusy();
            },
            10000);
    }
};

TEST_F(IdentifyPanel, FindsTheCapturedSampleAndOverlaysTheHitUntilTheNextCapture) {
    realTime = true;
    attach();
    start();
    tick();
    find<QLineEdit>("Edit_exp")->setText("1000");
    QToolButton* button = find<QToolButton>("SpeedButton_identify");
    EXPECT_FALSE(button->isEnabled()); // nothing shown yet
    EXPECT_EQ(button->toolTip(), "Identify (I)");

    // With no library yet there is nothing to search.
    capture(SimSample::Polystyrene);
    identify().Timer_identifyTimer();
    button->click();
    ASSERT_TRUE(searched());
    EXPECT_EQ(identify().verdictLabel()->text(), "No library entries to search.");
    EXPECT_EQ(identify().hitTable()->rowCount(), 0);

    // A library of two samples, each made from a capture.
    const std::string folder = AppPathsAt(dir.path()).pcLibraryFolder();
    for (SimSample sample : {SimSample::Cyclohexane, SimSample::Polystyrene}) {
        capture(sample);
        ASSERT_EQ(MakeLibrary(SimSampleName(sample), state().measurement, state().device, state().library, folder,
                              {2026, 3, 4, 5, 6, 7}),
                  MakeLibraryResult::Made);
    }
    find<QLineEdit>("Edit_exp")->setText("3000");
    capture(SimSample::Polystyrene);
    identify().Timer_identifyTimer();
    ASSERT_TRUE(button->isEnabled());
    main().FormKeyPress("I"); // the key does what the button does
    EXPECT_TRUE(identify().workerBusy());
    ASSERT_TRUE(searched());

    QTableWidget* table = identify().hitTable();
    EXPECT_TRUE(identify().panel()->isVisible() || !main().isVisible());
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 2)->text(), "polystyrene");
    EXPECT_EQ(table->item(1, 2)->text(), "cyclohexane");
    EXPECT_EQ(table->item(0, 4)->text(), "2026/3/4 5:6:7");
    EXPECT_EQ(table->item(0, 5)->text().toStdString(), IndexFolderKey(folder));
    QLabel* verdict = identify().verdictLabel();
    EXPECT_TRUE(verdict->text().startsWith("Match: polystyrene, HQI ")) << verdict->text().toStdString();
    EXPECT_TRUE(verdict->text().contains(", next cyclohexane ")) << verdict->text().toStdString();
    EXPECT_NEAR(verdict->text().section(' ', 3, 3).chopped(1).toDouble(), table->item(0, 1)->text().toDouble(), 0.051);
    EXPECT_EQ(verdict->styleSheet(), "color: #008000"); // green

    ChartModel& chart = main().spectrumChart();
    std::size_t series = chart.seriesCount();
    table->selectRow(0);
    ASSERT_EQ(chart.seriesCount(), series + 2);
    EXPECT_EQ(chart.seriesTitle(chart.seriesByIndex(series)), "Sample, baseline removed");
    EXPECT_EQ(chart.seriesTitle(chart.seriesByIndex(series + 1)), "polystyrene");

    main().resize(1264, 730);
    main().show();
    QApplication::processEvents();
    QDir().mkpath(VELTRANE_SCREENSHOT_DIR);
    EXPECT_TRUE(main().grab().save(VELTRANE_SCREENSHOT_DIR "/identify_panel.png"));

    // The result as a record: Report… writes the page where the user says,
    // remembers the folder, and Print… draws the same page.
    state().measurement.sample = {"Bottle 7", "A. Smith", "Cracked cap."};
    ASSERT_TRUE(identify().reportButton()->isEnabled());
    const std::string pdf = dir.path() + "reports/bottle.pdf";
    std::filesystem::create_directories(dir.path() + "reports");
    dialogs.saveAnswers.push_back(pdf);
    identify().reportButton()->click();
    EXPECT_EQ(main().statusPanels()->notice().toStdString(), "Saved " + pdf);
    EXPECT_EQ(identify().reportFolder(), dir.path() + "reports");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(dir.path() + "printed.pdf"));
    ASSERT_TRUE(identify().printTo(printer));
    for (const std::string& file : {pdf, dir.path() + "printed.pdf"}) {
        const std::string text = test::PdfText(file);
        for (const char* field : {"Identification report", "Bottle 7", "A. Smith", "Cracked cap.", "Result: Match",
                                  "Match: polystyrene", "TL100, serial 21087342", "532.0 nm", "3000 ms",
                                  "not checked", "cyclohexane", "(2 entries)"})
            EXPECT_NE(text.find(field), std::string::npos) << field << "\n" << text;
        EXPECT_EQ(test::PdfPages(file), 1);
    }
    // The page as the README shows it.
    const IdentificationReport report = identify().currentReport();
    const QSizeF page = ReportPageSize(ReportPaper::A4);
    QImage image((page * 1.5).toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.scale(1.5, 1.5);
        PaintReport(painter, page, report);
    }
    EXPECT_TRUE(image.save(VELTRANE_SCREENSHOT_DIR "/report.png"));

    // The next capture takes the overlay and the hits away.
    capture(SimSample::Cyclohexane);
    identify().Timer_identifyTimer();
    EXPECT_EQ(chart.seriesCount(), series);
    EXPECT_EQ(table->rowCount(), 0);
    // Without the matching entry nothing reaches the threshold.
    std::filesystem::remove(folder + "cyclohexane.rlb");
    button->click();
    ASSERT_TRUE(searched());
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_TRUE(verdict->text().startsWith("No match (closest polystyrene, HQI ")) << verdict->text().toStdString();
    EXPECT_EQ(verdict->styleSheet(), "color: #6e6e6e"); // grey
}

// An opened mixture of two library materials is offered as one, and the
// offer overlays the sample, the fit and each component.
TEST_F(IdentifyPanel, AMixtureIsOfferedAndOverlaid) {
    auto bands = [](std::initializer_list<double> centres, double x) {
        double v = 0.0;
        for (double c : centres)
            v += std::exp(-0.5 * std::pow((x - c) / 6.0, 2));
        return v;
    };
    auto write = [&](const std::string& name, double a, double b) {
        std::ofstream file(dir.path() + name);
        file << "##NAMES=" << (a > 0 && b > 0 ? "sample" : a > 0 ? "alpha" : "beta") << "\n";
        for (int x = 200; x <= 1800; ++x)
            file << x << ", " << 1000.0 * (a * bands({400, 800, 1200}, x) + b * bands({600, 1000, 1500}, x)) + 0.2 * x
                 << "\n";
        return dir.path() + name;
    };
    SpectrumImporter importer(AppPathsAt(dir.path()).pcLibraryFolder(), ImportOptions{}, {2026, 12, 9, 8, 0, 0});
    ASSERT_TRUE(importer.importFile(write("alpha.txt", 1, 0)).imported);
    ASSERT_TRUE(importer.importFile(write("beta.txt", 0, 1)).imported);
    importer.finish();
    start();
    dialogs.openAnswers.push_back(write("mix.txt", 0.6, 0.4));
    find<QToolButton>("SpeedButton_open_raw")->click();
    identify().Timer_identifyTimer();
    identify().button()->click();
    ASSERT_TRUE(searched());
    QToolButton* mixture = identify().mixtureButton();
    ASSERT_FALSE(mixture->isHidden());
    EXPECT_TRUE(mixture->text().startsWith("Mixture: alpha (6")) << mixture->text().toStdString();
    EXPECT_TRUE(mixture->text().contains("+ beta (4")) << mixture->text().toStdString();
    const std::size_t before = main().spectrumChart().seriesCount();
    mixture->click();
    EXPECT_EQ(main().spectrumChart().seriesCount(), before + 4); // sample, fit, alpha, beta
}

TEST_F(IdentifyPanel, KeyIsASettingThatOlderFilesDoNotHave) {
    start();
    EXPECT_EQ(identify().hotkey(), "I");
    main().close();
    EXPECT_NE(settingsText().find("Identify=I"), std::string::npos) << settingsText();
    app.reset();
    std::string text = settingsText();
    text.replace(text.find("Identify=I"), 10, "Identify=K");
    std::ofstream(dir.path() + "veltrane.ini", std::ios::binary) << text;
    start();
    EXPECT_EQ(identify().hotkey(), "K");
    EXPECT_EQ(find<QToolButton>("SpeedButton_identify")->toolTip(), "Identify (K)");
}

} // namespace
} // namespace veltrane
