#pragma once

#include <QWidget>

#include "shared/window_rules.h"

class QLabel;
class QProgressBar;

namespace veltrane {

// The panels of the main window's status bar, laid out by their fixed widths:
// "Progress:  " (80), the progress bar's panel (statusIconBase wide), the
// time or count text (170), the status label (100), the status icon (21),
// "Device_connect:" (119), the connection icon (21) and an empty panel (20).
// The two icons sit at statusIconBase + 350 and + 490.
class StatusPanels : public QWidget {
    Q_OBJECT

public:
    explicit StatusPanels(QWidget* parent);

    void setIconBase(int base);
    int iconBase() const { return m_base; }
    void setValueText(const QString& text);
    void setLabelText(const QString& text);
    void setStatusIcon(StatusIcon icon);
    void setConnectionIcon(StatusIcon icon);
    // The gap between the progress bar and the value panel: a notice of what
    // was just done (a file saved, a library made) and the chart's readout of
    // the values under the pointer.
    // `alarm`: a warning the user must act on, drawn in red.
    void setNotice(const QString& text, bool alarm = false);
    void setReadout(const QString& text);
    QString notice() const;
    bool noticeIsAlarm() const { return m_noticeAlarm; }
    QString readout() const;

    QProgressBar* progressBar() const { return m_progress; }
    QString valueText() const;
    QString labelText() const;
    StatusIcon statusIcon() const { return m_statusIcon; }
    StatusIcon connectionIcon() const { return m_connectionIcon; }
    QLabel* statusIconLabel() const { return m_statusIconLabel; }
    QLabel* connectionIconLabel() const { return m_connectionIconLabel; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int m_base = 750;
    QLabel* m_progressCaption;
    QProgressBar* m_progress;
    QLabel* m_value;
    QLabel* m_label;
    QLabel* m_statusIconLabel;
    QLabel* m_deviceCaption;
    QLabel* m_connectionIconLabel;
    QLabel* m_notice;
    QLabel* m_readout;
    bool m_noticeAlarm = false;
    StatusIcon m_statusIcon = StatusIcon::Blank;
    StatusIcon m_connectionIcon = StatusIcon::Blank;
    void place();
};

// A pair of arrow buttons beside an edit box, reporting which arrow was hit.
class UpDown : public QWidget {
    Q_OBJECT

public:
    explicit UpDown(QWidget* parent);
    void click(bool up) { emit clicked(up); }

signals:
    void clicked(bool up);
};

} // namespace veltrane
