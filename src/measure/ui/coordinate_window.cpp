#include "measure/ui/coordinate_window.h"

#include "shared/ui/window_flags.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "shared/ui/dialog_keys.h"
#include <QVBoxLayout>

#include "measure/axis_range.h"
#include "shared/program_constants.h"

namespace veltrane {

namespace {

// Range messages carry the program's name as their caption, unlike the
// "Information" boxes of the rest of the program.
constexpr const char* kRangeMessageCaption = "Veltrane";

struct RangeGroupNames {
    const char* group;
    const char* caption;
    const char* minLabel;
    const char* minEdit;
    const char* minText;
    const char* maxLabel;
    const char* maxEdit;
    const char* maxText;
    const char* automatic;
};

struct RangeGroup {
    QGroupBox* box;
    QLineEdit* start;
    QLineEdit* end;
    QCheckBox* automatic;
};

RangeGroup BuildRangeGroup(QWidget* parent, const RangeGroupNames& names) {
    auto* group = new QGroupBox(names.caption, parent);
    group->setObjectName(names.group);
    auto* grid = new QGridLayout(group);
    auto row = [&](int at, const char* labelName, const char* caption, const char* editName, const char* text) {
        auto* label = new QLabel(caption, group);
        label->setObjectName(labelName);
        auto* edit = new QLineEdit(text, group);
        edit->setObjectName(editName);
        edit->setFixedWidth(80);
        // A bound may be negative or have decimals (truncated on Apply);
        // anything else could only end in a conversion error.
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression("-?[0-9]{0,9}(\\.[0-9]{0,6})?"), edit));
        grid->addWidget(label, at, 0);
        grid->addWidget(edit, at, 1);
        return edit;
    };
    RangeGroup built{};
    built.box = group;
    built.start = row(0, names.minLabel, "Min:", names.minEdit, names.minText);
    built.end = row(1, names.maxLabel, "Max:", names.maxEdit, names.maxText);
    built.automatic = new QCheckBox("Auto", group);
    built.automatic->setObjectName(names.automatic);
    grid->addWidget(built.automatic, 2, 1);
    return built;
}

} // namespace

TForm_coordinate::TForm_coordinate(WindowHost& main) : QWidget(nullptr, kFixedDialogFlags), m_main(main) {
    setObjectName("TForm_coordinate");
    setWindowTitle("Coordinate Set");
    auto* layout = new QVBoxLayout(this);
    auto* groups = new QHBoxLayout;
    layout->addLayout(groups);

    RangeGroup x = BuildRangeGroup(this, {"GroupBox_ramanshift", "Ramanshift", "Label1", "Edit_X_start", "400",
                                          "Label4", "Edit_X_end", "4000", "CheckBox_x_auto"});
    RangeGroup y = BuildRangeGroup(this, {"GroupBox_intensity", "Intensity", "Label2", "Edit_Y_start", "0", "Label6",
                                          "Edit_Y_end", "0", "CheckBox_y_auto"});
    groups->addWidget(x.box);
    groups->addWidget(y.box);
    m_xStart = x.start;
    m_xEnd = x.end;
    m_xAuto = x.automatic;
    m_yStart = y.start;
    m_yEnd = y.end;
    m_yAuto = y.automatic;
    // The intensity starts out automatic, so its boxes start out unusable.
    m_yAuto->setChecked(true);
    m_yStart->setEnabled(false);
    m_yEnd->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton("Apply", this);
    apply->setObjectName("Button_coordinate_set");
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("Button_coordinate_cancel");
    buttons->addStretch(1);
    buttons->addWidget(apply);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());

    connect(apply, &QPushButton::clicked, this, &TForm_coordinate::Button_coordinate_setClick);
    UseDialogKeys(this, apply);
    connect(cancel, &QPushButton::clicked, this, &TForm_coordinate::Button_coordinate_cancelClick);
    // Toggled, not clicked: the auto-scale buttons tick and untick these too
    // and rely on the boxes following.
    connect(m_xAuto, &QCheckBox::toggled, this, &TForm_coordinate::CheckBox_x_autoClick);
    connect(m_yAuto, &QCheckBox::toggled, this, &TForm_coordinate::CheckBox_y_autoClick);
}

bool TForm_coordinate::applyRanges() {
    AxisRangeInput input;
    input.xAutomatic = m_xAuto->isChecked();
    input.yAutomatic = m_yAuto->isChecked();
    input.xStart = m_xStart->text().toStdString();
    input.xEnd = m_xEnd->text().toStdString();
    input.yStart = m_yStart->text().toStdString();
    input.yEnd = m_yEnd->text().toStdString();
    AxisRangeOutcome outcome = ApplyAxisRange(m_main.spectrumChart(), input);
    UserDialogs& dialogs = m_main.dialogs();
    if (outcome.conversionError) {
        dialogs.message(*outcome.conversionError, kMessageCaption, MessageIcon::Error);
        return false;
    }
    for (const std::string& text : outcome.rangeMessages)
        dialogs.message(text, kRangeMessageCaption, MessageIcon::None);
    return true;
}

void TForm_coordinate::Button_coordinate_setClick() {
    // After a conversion error the window stays open for the box to be fixed.
    if (!applyRanges()) return;
    m_main.mainWindow()->setEnabled(true);
    close();
}

void TForm_coordinate::Button_coordinate_cancelClick() {
    m_main.mainWindow()->setEnabled(true);
    close();
}

void TForm_coordinate::CheckBox_x_autoClick() {
    bool automatic = m_xAuto->isChecked();
    m_xStart->setEnabled(!automatic);
    m_xEnd->setEnabled(!automatic);
    if (automatic) return;
    AxisRangeTexts texts = CurrentAxisRangeTexts(m_main.spectrumChart());
    m_xStart->setText(QString::fromStdString(texts.xStart));
    m_xEnd->setText(QString::fromStdString(texts.xEnd));
}

void TForm_coordinate::CheckBox_y_autoClick() {
    bool automatic = m_yAuto->isChecked();
    m_yStart->setEnabled(!automatic);
    m_yEnd->setEnabled(!automatic);
    if (automatic) return;
    AxisRangeTexts texts = CurrentAxisRangeTexts(m_main.spectrumChart());
    m_yStart->setText(QString::fromStdString(texts.yStart));
    m_yEnd->setText(QString::fromStdString(texts.yEnd));
}

void TForm_coordinate::FillRangeBoxes() {
    AxisRangeTexts texts = CurrentAxisRangeTexts(m_main.spectrumChart());
    m_xStart->setText(QString::fromStdString(texts.xStart));
    m_xEnd->setText(QString::fromStdString(texts.xEnd));
    m_yStart->setText(QString::fromStdString(texts.yStart));
    m_yEnd->setText(QString::fromStdString(texts.yEnd));
}

// Fits one axis to the data once and leaves the window's tick box as the
// user had it: the axis stays automatic until the next Apply with the box
// unticked, and an unticked box shows the bounds just computed.
void TForm_coordinate::autoScale(QCheckBox* tick) {
    bool wasTicked = tick->isChecked();
    tick->setChecked(true);
    // A box of the other axis that is not a number stops the whole action,
    // as it stops Apply; only the tick goes back.
    if (applyRanges()) {
        m_main.spectrumChart().redrawNow();
        FillRangeBoxes();
    }
    tick->setChecked(wasTicked);
}

void TForm_coordinate::SpeedButton_horizontalClick() {
    autoScale(m_xAuto);
}

void TForm_coordinate::SpeedButton_verticalClick() {
    autoScale(m_yAuto);
}

void TForm_coordinate::setXRange(int low, int high) {
    m_xStart->setText(QString::number(low));
    m_xEnd->setText(QString::number(high));
}

void TForm_coordinate::open() {
    FillRangeBoxes();
    m_main.PlaceDialog(this, m_main.mainWindow());
}

void TForm_coordinate::closeEvent(QCloseEvent* event) {
    m_main.mainWindow()->setEnabled(true);
    event->accept();
}

} // namespace veltrane
