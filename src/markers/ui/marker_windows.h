#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "device/device_info.h"
#include "markers/marker_set.h"
#include "markers/markers.h"
#include "measure/measurement_session.h"
#include "shared/ui/window_host.h"

class QFrame;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace veltrane {

class TForm_mark_rename;

// "Mark Set": the markers of the spectrum chart with their colour swatches
// and names. It also takes the markers, since it holds Series8..Series13.
class TForm_mark_info : public QWidget {
    Q_OBJECT

public:
    TForm_mark_info(WindowHost& main, MarkerSet& markers, MeasurementSession& session, const DeviceInfo& device);

    // Created after this window, so handed over by the application.
    void attachRename(TForm_mark_rename* rename) { m_rename = rename; }
    const MarkerSeries& markerSeries() const { return m_series; }
    QTableWidget* grid() const { return m_grid; }

    // The chart bar's "Marker" button and the marker hotkey.
    void SpeedButton_markerClick();
    // The chart bar's "Mark Set" button: fill, centre, show, main disabled.
    void SpeedButton_mark_infoClick();
    void FillTable();
    void SpeedButton_renameClick();
    void SpeedButton_deleteClick();
    void SpeedButton_delete_allClick();
    void Button_cancelClick();
    // The rename window's confirmation: grid cell and chart title alike.
    void renameRow(int row, const std::string& name);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    WindowHost& m_main;
    MarkerSet& m_markers;
    MeasurementSession& m_session;
    const DeviceInfo& m_device;
    TForm_mark_rename* m_rename = nullptr;
    MarkerSeries m_series;
    QTableWidget* m_grid = nullptr;
    std::array<QFrame*, kMaxMarkers> m_panels{};

    // The top row of the selection; 0 when no marker row is selected.
    int selectedRow() const;
    void setCellText(int row, int column, const QString& text);
};

// "Mark Rename": a new name for the marker of one table row.
class TForm_mark_rename : public QWidget {
    Q_OBJECT

public:
    TForm_mark_rename(WindowHost& main, TForm_mark_info& owner, MarkerSet& markers);

    // Shows the current name and offers "NewName", all of it selected.
    void begin(const QString& oldName);
    void Button_renameClick();
    void Button_cancelClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    WindowHost& m_main;
    TForm_mark_info& m_owner;
    MarkerSet& m_markers;
    QLabel* m_oldName = nullptr;
    QLineEdit* m_newName = nullptr;
};

} // namespace veltrane
