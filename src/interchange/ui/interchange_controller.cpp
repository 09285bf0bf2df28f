#include "interchange/ui/interchange_controller.h"

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QImage>
#include <QInputDialog>
#include <QLineEdit>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QTemporaryFile>
#include <algorithm>
#include <filesystem>

#include "interchange/delimited_text.h"
#include "interchange/interchange.h"
#include "interchange/jcamp.h"
#include "interchange/measurement_facts.h"
#include "interchange/shown_spectrum.h"
#include "interchange/spc_file.h"
#include "measure/raw_spectrum_file.h"
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

// Qt Charts lays a resized chart out on a later turn of the event loop and
// draws nothing of it until then; a picture is taken now.
void settleLayout(QChart* chart) {
    if (chart->layout() != nullptr) chart->layout()->activate();
    QCoreApplication::sendPostedEvents(chart, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(chart->scene(), 0);
}

} // namespace

InterchangeController::InterchangeController(WindowHost& main, MeasurementSession& session, DeviceInfo& device)
    : QObject(main.mainWindow()), askLaser(AskLaserDialog), askImageSize(AskImageSizeDialog), m_main(main),
      m_session(session), m_device(device) {
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

bool InterchangeController::openForeign(const std::string& path) {
    std::string bytes;
    LoadResult loaded = ReadWholeFile(path, bytes, kMaxInterchangeFileBytes);
    if (loaded != LoadResult::Loaded) {
        showMessage(loaded == LoadResult::TooLarge ? "Unknown file format!" : kOpenFailed, true);
        return false;
    }
    InterchangeFormat format = FormatOfFileName(path);
    InterchangeSpectrum read;
    ReadOutcome outcome = ReadInterchangeSpectrum(bytes, format, 0.0, read);
    if (outcome.needsLaser) {
        // The laser of the instrument at hand is the likeliest; without one,
        // the value the user gave last.
        double suggested = m_lastLaser;
        if (m_device.deviceState == DeviceConnection::Connected && m_device.laserWavelength >= 100.0f &&
            m_device.laserWavelength <= 2000.0f)
            suggested = m_device.laserWavelength;
        std::optional<double> laser = askLaser ? askLaser(suggested) : std::nullopt;
        if (!laser) return false;
        m_lastLaser = *laser;
        outcome = ReadInterchangeSpectrum(bytes, format, *laser, read);
    }
    if (!outcome.ok) {
        showMessage(outcome.message, true);
        return false;
    }
    bool resampled = false;
    InterchangeSpectrum shown = FitForStore(read, resampled);
    std::string name = shown.title.empty() ? std::filesystem::path(path).filename().string() : shown.title;

    m_main.applyAxisRange();
    ChartModel& chart = m_main.spectrumChart();
    chart.clearSeries(m_main.measuredSeries());
    ApplyInterchangeSpectrum(shown, name, m_session, m_device);
    m_session.sample = SampleInfoOf(read);
    m_session.capturedAt = 0;
    std::vector<ChartPoint> points;
    for (std::size_t i = 0; i < shown.x.size(); ++i)
        points.push_back({shown.x[i], shown.y[i]});
    chart.addPoints(m_main.measuredSeries(), points);
    m_main.showFileName(std::filesystem::path(path).filename().string());

    std::string notice = outcome.notice;
    if (resampled) {
        if (!notice.empty()) notice += "\n";
        notice += std::to_string(read.x.size()) + " points resampled to " + std::to_string(kMaxShownPoints) + ".";
    }
    if (!notice.empty()) showMessage(notice, false);
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
