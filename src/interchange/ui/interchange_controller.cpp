#include "interchange/ui/interchange_controller.h"

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSvgGenerator>
#include <QTemporaryFile>
#include <algorithm>
#include <filesystem>

#include "interchange/column_memory.h"
#include "interchange/delimited_text.h"
#include "interchange/interchange.h"
#include "interchange/jcamp.h"
#include "interchange/measurement_facts.h"
#include "interchange/shown_spectrum.h"
#include "interchange/spc_file.h"
#include "measure/raw_spectrum_file.h"
#include "measure/spectral_axis.h"
#include "platform/file_io.h"
#include "shared/ui/chart_view.h"
#include "shared/window_rules.h"

namespace veltrane {

const char* const kOpenSpectrumFilter =
    "Spectra(*.rsd;*.csv;*.txt;*.jdx;*.dx;*.jcamp;*.spc)|*.rsd;*.csv;*.txt;*.tsv;*.jdx;*.dx;*.jcamp;*.spc|"
    "rsd(*.rsd)|*.rsd|CSV or text(*.csv;*.txt)|*.csv;*.txt;*.tsv|JCAMP-DX(*.jdx;*.dx;*.jcamp)|*.jdx;*.dx;*.jcamp|"
    "SPC(*.spc)|*.spc";

namespace {

constexpr const char* kImageSizeQuestion = "Image size in pixels (width x height):";

std::optional<double> AskLaserDialog(double suggested) {
    bool ok = false;
    double nm = QInputDialog::getDouble(QApplication::activeWindow(), "Laser Wavelength",
                                        "The X axis is in wavelengths. Laser wavelength (nm):", suggested, 100.0,
                                        2000.0, 3, &ok);
    if (!ok) return std::nullopt;
    return nm;
}

std::optional<QSize> AskImageSizeDialog(QSize current) {
    bool ok = false;
    QString text =
        QInputDialog::getText(QApplication::activeWindow(), "Save Chart Image", kImageSizeQuestion, QLineEdit::Normal,
                              QString("%1 x %2").arg(current.width()).arg(current.height()), &ok);
    if (!ok) return std::nullopt;
    QStringList parts = text.toLower().remove(' ').split('x');
    if (parts.size() != 2) return QSize();
    int w = parts[0].toInt(), h = parts[1].toInt();
    return w > 0 && h > 0 && w <= 20000 && h <= 20000 ? QSize(w, h) : QSize();
}

// A small window of two lists; OK is offered only for two different columns.
std::optional<std::pair<std::size_t, std::size_t>> AskColumnsDialog(const ColumnQuestion& question) {
    QDialog dialog(QApplication::activeWindow());
    dialog.setObjectName("Dialog_columns");
    dialog.setWindowTitle("Choose Columns");
    auto* layout = new QFormLayout(&dialog);
    auto* intro = new QLabel(
        QString("Which columns of %1 hold the spectrum?").arg(QString::fromStdString(question.file)), &dialog);
    intro->setWordWrap(true);
    layout->addRow(intro);
    auto list = [&](const char* name, std::size_t chosen) {
        auto* box = new QComboBox(&dialog);
        box->setObjectName(name);
        for (const std::string& column : question.names)
            box->addItem(QString::fromStdString(column));
        box->setCurrentIndex(static_cast<int>(std::min(chosen, question.names.size() - 1)));
        return box;
    };
    QComboBox* x = list("ComboBox_x_column", question.x);
    QComboBox* y = list("ComboBox_y_column", question.y);
    layout->addRow("X column (Raman shift or wavelength):", x);
    layout->addRow("Y column (intensity):", y);
    auto* hint = new QLabel("The choice is kept for files with the same columns.", &dialog);
    hint->setWordWrap(true);
    layout->addRow(hint);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto different = [x, y, buttons] {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(x->currentIndex() != y->currentIndex());
    };
    QObject::connect(x, &QComboBox::currentIndexChanged, &dialog, different);
    QObject::connect(y, &QComboBox::currentIndexChanged, &dialog, different);
    different();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return std::pair<std::size_t, std::size_t>(static_cast<std::size_t>(x->currentIndex()),
                                               static_cast<std::size_t>(y->currentIndex()));
}

// Qt Charts lays a resized chart out on a later turn of the event loop and
// draws nothing of it until then; a picture is taken now.
void settleLayout(QChart* chart) {
    if (chart->layout() != nullptr) chart->layout()->activate();
    QCoreApplication::sendPostedEvents(chart, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(chart->scene(), 0);
}

} // namespace

InterchangeController::InterchangeController(WindowHost& main, MeasurementSession& session, DeviceInfo& device)
    : QObject(main.mainWindow()), askLaser(AskLaserDialog), askImageSize(AskImageSizeDialog),
      askColumns(AskColumnsDialog), m_main(main), m_session(session), m_device(device) {
    auto* spectrum = main.mainWindow()->findChild<ChartView*>("Chart_measure");
    auto* library = main.mainWindow()->findChild<ChartView*>("Chart_library");
    for (ChartView* view : {spectrum, library}) {
        if (view == nullptr) continue;
        if (view == spectrum) {
            auto* drawn = new QAction("Export Spectrum…", view);
            drawn->setObjectName("Action_export_spectrum");
            connect(drawn, &QAction::triggered, this, [this] { exportSpectrum(false); });
            auto* raw = new QAction("Export Raw Spectrum…", view);
            raw->setObjectName("Action_export_raw_spectrum");
            connect(raw, &QAction::triggered, this, [this] { exportSpectrum(true); });
            view->addAction(drawn);
            view->addAction(raw);
        }
        auto* image = new QAction("Save Chart Image…", view);
        image->setObjectName(view == spectrum ? "Action_save_spectrum_image" : "Action_save_library_image");
        connect(image, &QAction::triggered, this, [this, view] { saveChartImage(*view); });
        view->addAction(image);
    }
}

void InterchangeController::showMessage(const std::string& text, bool error) {
    m_main.dialogs().message(text, kMessageCaption, error ? MessageIcon::Error : MessageIcon::None);
}

bool InterchangeController::IsForeignSpectrum(const std::string& path) {
    InterchangeFormat format = FormatOfFileName(path);
    return format == InterchangeFormat::Csv || format == InterchangeFormat::Jcamp || format == InterchangeFormat::Spc;
}

std::optional<ColumnChoice> InterchangeController::chooseColumns(const ReadOutcome& guess, const std::string& path,
                                                                 bool& kept) {
    IniFile settings(m_main.paths().settingsFile);
    if (std::optional<ColumnChoice> remembered = RememberedColumns(settings, guess)) {
        kept = true;
        return remembered;
    }
    ColumnQuestion question;
    question.file = std::filesystem::path(path).filename().string();
    const std::size_t count = std::max(guess.columnCount, guess.columns.size());
    for (std::size_t i = 0; i < count; ++i)
        question.names.push_back(i < guess.columns.size() && !guess.columns[i].empty()
                                     ? guess.columns[i]
                                     : "Column " + std::to_string(i + 1));
    question.x = guess.xColumn;
    question.y = guess.yColumn;
    std::optional<std::pair<std::size_t, std::size_t>> answer = askColumns ? askColumns(question) : std::nullopt;
    if (!answer || answer->first >= count || answer->second >= count || answer->first == answer->second)
        return std::nullopt;
    // Not kept is no reason to refuse the file: this time the choice holds.
    RememberColumns(settings, guess, answer->first, answer->second);
    return ColumnChoice{std::to_string(answer->first + 1), std::to_string(answer->second + 1)};
}

bool InterchangeController::openForeign(const std::string& path) {
    std::string bytes;
    LoadResult loaded = ReadWholeFile(path, bytes, kMaxInterchangeFileBytes);
    if (loaded != LoadResult::Loaded) {
        showMessage(loaded == LoadResult::TooLarge ? kFileTooLargeMessage : kOpenFailed, true);
        return false;
    }
    InterchangeFormat format = FormatOfFileName(path);
    InterchangeSpectrum read;
    ColumnChoice columns;
    double laser = 0.0;
    bool laserAsked = false, columnsAsked = false, columnsKept = false;
    ReadOutcome outcome, guess;
    // Each question at most once: a chosen wavelength column may need the
    // laser, and a laser given may show the intensity columns to be a guess.
    for (;;) {
        outcome = ReadInterchangeSpectrum(bytes, format, laser, read, columns);
        if (outcome.needsLaser && !laserAsked) {
            laserAsked = true;
            // The laser of the instrument at hand is the likeliest; without
            // one, the value the user gave last.
            double suggested = m_lastLaser;
            if (m_device.deviceState == DeviceConnection::Connected && m_device.laserWavelength >= 100.0f &&
                m_device.laserWavelength <= 2000.0f)
                suggested = m_device.laserWavelength;
            std::optional<double> given = askLaser ? askLaser(suggested) : std::nullopt;
            if (!given) return false;
            m_lastLaser = laser = *given;
            continue;
        }
        if (outcome.ok && outcome.columnsUnclear && !columnsAsked) {
            columnsAsked = true;
            guess = outcome;
            std::optional<ColumnChoice> chosen = chooseColumns(guess, path, columnsKept);
            if (!chosen) return false;
            columns = *chosen;
            continue;
        }
        break;
    }
    if (!outcome.ok) {
        // A kept choice that this file refuses is asked for again next time.
        if (columnsKept)
            IniFile(m_main.paths().settingsFile).writeString(kColumnChoiceSection, ColumnHeaderKey(guess), "");
        showMessage(outcome.message, true);
        return false;
    }
    std::string name = read.title.empty() ? std::filesystem::path(path).filename().string() : read.title;

    m_main.applyAxisRange();
    ChartModel& chart = m_main.spectrumChart();
    chart.clearSeries(m_main.measuredSeries());
    ApplyInterchangeSpectrum(read, name, m_session, m_device);
    m_session.sample = SampleInfoOf(read);
    m_session.capturedAt = 0;
    m_session.shownCapture = CaptureSettingsOf(read);
    std::vector<ChartPoint> points;
    points.reserve(read.x.size());
    for (std::size_t i = 0; i < read.x.size(); ++i)
        points.push_back({read.x[i], read.y[i]});
    chart.addPoints(m_main.measuredSeries(), points);
    // Drawn whole: the coordinate settings give the range of the
    // instrument's spectra and come back with the next capture or raw file.
    for (ChartAxis axis : {ChartAxis::Bottom, ChartAxis::Left}) {
        chart.setAxisAutomaticMinimum(axis, true);
        chart.setAxisAutomaticMaximum(axis, true);
    }
    chart.setAxisTitleCaption(ChartAxis::Bottom, SpectrumXAxisCaption(m_session, m_device));
    m_main.showFileName(std::filesystem::path(path).filename().string());
    if (!outcome.notice.empty()) showMessage(outcome.notice, false);
    return true;
}

void InterchangeController::exportSpectrum(bool raw) {
    const SpectrumStore& s = m_session.spectrum;
    if (m_session.measureState.load(std::memory_order_acquire) != 0) {
        showMessage(kMeasureProcessingMessage, true);
        return;
    }
    if (!s.haveMeasured && !s.haveFileData) {
        showMessage(kNoDataToSave, true);
        return;
    }
    // Without a calibration the X axis is pixels or nm, not Raman shift.
    if (s.haveMeasured && !m_device.waveCalValid) {
        showMessage(kNoWaveCalibration, true);
        return;
    }
    std::optional<std::string> path = m_main.dialogs().saveFile(kExportSpectrumFilter, "*.csv");
    if (!path) return;
    InterchangeFormat format = FormatOfFileName(*path);
    if (format != InterchangeFormat::Csv && format != InterchangeFormat::Jcamp && format != InterchangeFormat::Spc) {
        showMessage("Unknown file format!", true);
        return;
    }

    InterchangeSpectrum spectrum;
    spectrum.title = std::filesystem::path(*path).stem().string();
    // A table carries the facts only with sample information, as the
    // command line's export does: a plain export stays two columns.
    if (format != InterchangeFormat::Csv || !m_session.sample.empty())
        DescribeShownSpectrum(spectrum, m_session, m_device);
    if (raw) {
        // The drawn window's points, without smoothing.
        int first = s.windowFirst, end = s.windowEnd;
        if (!s.haveMeasured) {
            first = m_session.rawFile.windowStart;
            end = m_session.rawFile.windowEnd;
        }
        end = std::min<int>(end, std::min<int>(m_device.pixelCount, static_cast<int>(kMaxPixels)));
        if (ShowsForeignSpectrum(s)) {
            // Every point as it was opened, not the store's copy.
            spectrum.x = s.foreignAxis;
            for (float value : s.foreignSignal)
                spectrum.y.push_back(value > 0.0f ? value : 0.0f);
            first = end = 0;
        }
        for (int i = std::max(first, 0); i < end; ++i) {
            float value = s.signal[i] - s.dark[i];
            spectrum.x.push_back(s.axis[i]);
            spectrum.y.push_back(value > 0.0f ? value : 0.0f);
        }
    } else {
        for (const ChartPoint& p : m_main.spectrumChart().seriesPoints(m_main.measuredSeries())) {
            spectrum.x.push_back(static_cast<float>(p.x));
            spectrum.y.push_back(static_cast<float>(p.y));
        }
    }
    if (spectrum.x.empty()) {
        showMessage(kNoDataToSave, true);
        return;
    }
    std::string bytes = format == InterchangeFormat::Csv     ? WriteCsvSpectrum(spectrum)
                        : format == InterchangeFormat::Jcamp ? WriteJcampSpectrum(spectrum, JcampForm::Affn)
                                                             : WriteSpcSpectrum(spectrum);
    if (bytes.empty() || !WriteFileAtomically(*path, bytes)) {
        showMessage(kSaveFailed, true);
        return;
    }
    m_main.showNotice(QString("Saved %1").arg(QString::fromStdString(*path)));
}

void InterchangeController::saveChartImage(ChartView& view) {
    std::optional<std::string> path = m_main.dialogs().saveFile(kChartImageFilter, "*.png");
    if (!path) return;
    std::optional<QSize> size = askImageSize ? askImageSize(view.size()) : QSize();
    if (!size) return;
    if (!size->isEmpty() && (size->width() > 20000 || size->height() > 20000)) {
        showMessage("Invalid image size!", true);
        return;
    }
    if (!WriteChartImage(view, *path, *size)) {
        showMessage(kSaveFailed, true);
        return;
    }
    m_main.showNotice(QString("Saved %1").arg(QString::fromStdString(*path)));
}

bool InterchangeController::WriteChartImage(ChartView& view, const std::string& path, QSize size) {
    view.syncNow();
    if (size.isEmpty()) size = view.size();
    QChart* chart = view.chart();
    const QRectF before = chart->geometry();
    // Laid out anew at the asked size, so axes, titles and legend are placed
    // for it rather than a picture of the screen stretched.
    chart->resize(QSizeF(size));
    settleLayout(chart);
    const QRectF source(chart->pos(), QSizeF(size));
    const QRectF target(QPointF(0, 0), QSizeF(size));

    const std::string ext = std::filesystem::path(path).extension().string();
    QString lower = QString::fromStdString(ext).toLower();
    // Written beside the target and renamed into place, as every file of ours.
    const QString finalPath = QString::fromStdString(path);
    QTemporaryFile temp(finalPath + ".XXXXXX");
    bool ok = temp.open();
    if (ok) {
        if (lower == ".svg") {
            QSvgGenerator svg;
            svg.setOutputDevice(&temp);
            svg.setSize(size);
            svg.setViewBox(target);
            svg.setTitle(QString::fromStdString(std::filesystem::path(path).stem().string()));
            QPainter painter(&svg);
            chart->scene()->render(&painter, target, source);
            ok = painter.end();
        } else if (lower == ".pdf") {
            QPdfWriter pdf(&temp);
            pdf.setResolution(72);
            pdf.setPageSize(QPageSize(QSizeF(size), QPageSize::Point));
            pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
            QPainter painter(&pdf);
            chart->scene()->render(&painter, target, source);
            ok = painter.end();
        } else if (lower == ".png") {
            QImage image(size, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            chart->scene()->render(&painter, target, source);
            painter.end();
            ok = image.save(&temp, "PNG");
        } else {
            ok = false;
        }
        ok = ok && temp.flush();
        temp.close();
    }
    chart->setGeometry(before);
    settleLayout(chart);
    if (!ok) return false;
    temp.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    std::error_code ec;
    std::filesystem::rename(temp.fileName().toStdString(), path, ec);
    if (ec) return false;
    temp.setAutoRemove(false);
    return true;
}

} // namespace veltrane
