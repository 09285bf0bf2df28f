#include "app/ui/about_window.h"

#include "shared/ui/window_flags.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include "shared/ui/dialog_keys.h"

#include "shared/ui/artwork.h"

namespace veltrane {

TForm_about::TForm_about(QWidget* owner, BrandVariant brand)
    : QWidget(nullptr, kFixedDialogFlags),
      m_owner(owner) {
    setObjectName("TForm_about");
    setWindowTitle("About Veltrane");
    setFixedSize(418, 259);

    bool korvel = brand == BrandVariant::Korvel;
    auto image = [this](const char* name, const QPixmap& pixmap, QRect at, bool shown) {
        auto* label = new QLabel(this);
        label->setObjectName(name);
        label->setPixmap(pixmap);
        label->setGeometry(at);
        label->setVisible(shown);
    };
    image("Image_korvel", AboutBanner(BrandVariant::Korvel), QRect(0, 0, 400, 111), korvel);
    image("Image_brenmor", AboutBanner(BrandVariant::Brenmor), QRect(0, 0, 400, 111), !korvel);
    image("Image_brenmor_logo", BrenmorSmallLogo(), QRect(418 - 60 - 9, 259 - 60 - 9, 60, 60), !korvel);

    auto text = [this](const char* name, const QString& content, QRect at, bool shown) {
        auto* label = new QLabel(content, this);
        label->setObjectName(name);
        label->setGeometry(at);
        label->setWordWrap(true);
        label->setVisible(shown);
        return label;
    };
    text("Label_ver", QString("Veltrane Version: ") + kVersionText, QRect(16, 124, 330, 22), true);
    text("Label_copyright_korvel", BrandCopyright(BrandVariant::Korvel), QRect(16, 152, 330, 40), korvel);
    text("Label_copyright_brenmor", BrandCopyright(BrandVariant::Brenmor), QRect(16, 152, 330, 40), !korvel);
    // Plain text: the address is shown for reading, not followed.
    QLabel* web = text("Label_web", BrandWebAddress(brand), QRect(16, 200, 320, 22), true);
    web->setTextInteractionFlags(Qt::NoTextInteraction);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("Button_about_ok");
    ok->setGeometry(418 - 60 - 9 - 8 - 80, 259 - 9 - 28, 80, 28);
    connect(ok, &QPushButton::clicked, this, &QWidget::close);
    UseDialogKeys(this, ok);
}

void TForm_about::closeEvent(QCloseEvent* event) {
    if (m_owner) m_owner->setEnabled(true);
    event->accept();
}

} // namespace veltrane
