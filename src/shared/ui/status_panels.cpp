#include "shared/ui/status_panels.h"

#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "shared/ui/artwork.h"

namespace veltrane {

namespace {
constexpr int kProgressWidth = 150, kReadoutWidth = 230;
constexpr int kPanel0 = 80, kPanel2 = 170, kPanel3 = 100, kPanel4 = 21, kPanel5 = 119, kPanel6 = 21;

QLabel* PanelLabel(QWidget* parent, const QString& text, const char* name) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    return label;
}
} // namespace

StatusPanels::StatusPanels(QWidget* parent) : QWidget(parent) {
    setObjectName("StatusPanels");
    setMinimumHeight(22);
    m_progressCaption = PanelLabel(this, "Progress:  ", "StatusPanel0");
    m_value = PanelLabel(this, "", "StatusPanel2");
    m_label = PanelLabel(this, "", "StatusPanel3");
    m_deviceCaption = PanelLabel(this, "Device_connect:", "StatusPanel5");
    m_progress = new QProgressBar(this);
    m_progress->setObjectName("ProgressBar1");
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_statusIconLabel = new QLabel(this);
    m_statusIconLabel->setObjectName("StatusIcon");
    m_connectionIconLabel = new QLabel(this);
    m_connectionIconLabel->setObjectName("ConnectionIcon");
    m_notice = new QLabel(this);
    m_notice->setObjectName("StatusNotice");
    m_readout = new QLabel(this);
    m_readout->setObjectName("StatusReadout");
    m_readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setStatusIcon(StatusIcon::Blank);
    setConnectionIcon(StatusIcon::Blank);
    place();
}

void StatusPanels::place() {
    int h = height() > 0 ? height() : 22;
    m_progressCaption->setGeometry(0, 0, kPanel0, h);
    m_progress->setGeometry(kPanel0, 1, kProgressWidth, h - 1);
    // Between the progress bar and the value panel; on a narrow window the
    // readout gives way first.
    int gapLeft = kPanel0 + kProgressWidth + 8;
    int gap = std::max(0, kPanel0 + m_base - 8 - gapLeft);
    int readoutWidth = std::min(kReadoutWidth, gap / 2);
    m_notice->setGeometry(gapLeft, 0, gap - readoutWidth, h);
    m_readout->setGeometry(gapLeft + gap - readoutWidth, 0, readoutWidth, h);
    int x = kPanel0 + m_base;
    m_value->setGeometry(x, 0, kPanel2, h);
    x += kPanel2;
    m_label->setGeometry(x, 0, kPanel3, h);
    x += kPanel3; // = base + 350
    m_statusIconLabel->setGeometry(m_base + 350, 1, 20, 20);
    x += kPanel4;
    m_deviceCaption->setGeometry(x, 0, kPanel5, h);
    m_connectionIconLabel->setGeometry(m_base + 490, 1, 20, 20);
    (void)kPanel6;
}

void StatusPanels::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void StatusPanels::setIconBase(int base) {
    m_base = base;
    place();
}

void StatusPanels::setValueText(const QString& text) { m_value->setText(text); }
void StatusPanels::setNotice(const QString& text, bool alarm) {
    m_notice->setText(text);
    m_noticeAlarm = alarm;
    m_notice->setStyleSheet(alarm ? "color: #dc0000; font-weight: bold;" : QString());
}
void StatusPanels::setReadout(const QString& text) {
    m_readout->setText(text);
}
QString StatusPanels::notice() const {
    return m_notice->text();
}
QString StatusPanels::readout() const {
    return m_readout->text();
}
void StatusPanels::setLabelText(const QString& text) { m_label->setText(text); }
QString StatusPanels::valueText() const { return m_value->text(); }
QString StatusPanels::labelText() const { return m_label->text(); }

void StatusPanels::setStatusIcon(StatusIcon icon) {
    m_statusIcon = icon;
    m_statusIconLabel->setPixmap(StatusIconPixmap(icon));
}

void StatusPanels::setConnectionIcon(StatusIcon icon) {
    m_connectionIcon = icon;
    m_connectionIconLabel->setPixmap(StatusIconPixmap(icon));
}

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* up = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    up->setObjectName("Up");
    auto* down = new QToolButton(this);
    down->setArrowType(Qt::DownArrow);
    down->setObjectName("Down");
    for (QToolButton* b : {up, down}) {
        b->setFixedSize(17, 11);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        layout->addWidget(b);
    }
    connect(up, &QToolButton::clicked, this, [this] { emit clicked(true); });
    connect(down, &QToolButton::clicked, this, [this] { emit clicked(false); });
}

} // namespace veltrane
