#include "shared/ui/dialog_keys.h"

#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

namespace veltrane {

namespace {

// Keys a child does not take (a line edit passes Enter and Escape on) travel
// up to the window, where this filter sees them.
class DialogKeys : public QObject {
public:
    DialogKeys(QWidget* window, QPushButton* defaultButton)
        : QObject(window), m_window(window), m_default(defaultButton) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_window || event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!m_default || !m_default->isEnabled() || !m_default->isVisible()) return false;
            m_default->click();
            return true;
        case Qt::Key_Escape:
            m_window->close();
            return true;
        default:
            return false;
        }
    }

private:
    QWidget* m_window;
    QPointer<QPushButton> m_default;
};

} // namespace

void UseDialogKeys(QWidget* window, QPushButton* defaultButton) {
    if (defaultButton) defaultButton->setDefault(true);
    window->installEventFilter(new DialogKeys(window, defaultButton));
}

} // namespace veltrane
