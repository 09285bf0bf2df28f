#pragma once

#include <QWidget>

#include "app/program_state.h"

namespace veltrane {

// "About Veltrane": brand banner, version, brand label and web address.
class TForm_about : public QWidget {
    Q_OBJECT

public:
    TForm_about(QWidget* owner, BrandVariant brand);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* m_owner;
};

} // namespace veltrane
