#include "Form.h"

#include <QCloseEvent>
#include <QExposeEvent>
#include <QScreen>
#include <QWindow>
#include <QWindowStateChangeEvent>

namespace velmora {

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    SetParentColor(false);
    SetParentFont(false);
    ApplyWindowFlags();
}

TForm::~TForm() {
    if (QWindow* window = windowHandle(); window != nullptr && watchingWindow_) {
        window->removeEventFilter(this);
    }
}

void TForm::SetClientSize(int width, int height) {
    SetBounds(Left(), Top(), width, height);
}

void TForm::SetBounds(int left, int top, int width, int height) {
    if (borderStyle_ == bsSingleFixed) {
        setFixedSize(std::max(0, width), std::max(0, height));
    }
    TWinControl::SetBounds(left, top, width, height);
}

void TForm::SetBorderStyle(TFormBorderStyle value) {
    borderStyle_ = value;
    if (value == bsSingleFixed) {
        setFixedSize(size());
    } else {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    ApplyWindowFlags();
}

void TForm::SetBorderIcons(TBorderIcons value) {
    borderIcons_ = value;
    ApplyWindowFlags();
}

void TForm::ApplyWindowFlags() {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (borderIcons_ & biSystemMenu) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if (borderIcons_ & biMinimize) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if ((borderIcons_ & biMaximize) && borderStyle_ != bsSingleFixed) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    const bool shown = isVisible();
    setWindowFlags(flags);
    if (shown) {
        show();  // new flags hide the window
    }
}

void TForm::TextChanged() {
    setWindowTitle(Caption());
    TWinControl::TextChanged();
}

void TForm::Close() {
    close();
}

void TForm::closeEvent(QCloseEvent* event) {
    TCloseAction action = caHide;
    if (OnClose) {
        OnClose(this, action);
    }
    if (action == caNone) {
        event->ignore();
        return;
    }
    if (action == caMinimize) {
        event->ignore();
        showMinimized();
        return;
    }
    event->accept();
}

bool TForm::event(QEvent* e) {
    switch (e->type()) {
        case QEvent::Show:
            if (position_ == poScreenCenter && !placed_) {
                placed_ = true;
                if (const QScreen* screen = this->screen()) {
                    const QRect area = screen->availableGeometry();
                    QRect frame = frameGeometry();
                    frame.moveCenter(area.center());
                    move(frame.topLeft());
                }
            }
            if (!watchingWindow_ && windowHandle() != nullptr) {
                // The window's own exposure is seen on its platform window only.
                windowHandle()->installEventFilter(this);
                watchingWindow_ = true;
            }
            break;
        case QEvent::WindowStateChange: {
            const auto* change = static_cast<QWindowStateChangeEvent*>(e);
            if ((change->oldState() & Qt::WindowMinimized) &&
                !(windowState() & Qt::WindowMinimized)) {
                WindowPainted();
            }
            break;
        }
        default:
            break;
    }
    return TWinControl::event(e);
}

bool TForm::eventFilter(QObject* watched, QEvent* e) {
    if (watched == windowHandle() && e->type() == QEvent::Expose && windowHandle()->isExposed()) {
        WindowPainted();
    }
    return TWinControl::eventFilter(watched, e);
}

void TForm::WindowPainted() {
    if (OnPaint) {
        OnPaint(this);
    }
}

}  // namespace velmora
