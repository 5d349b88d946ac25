#include "Edit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>

#include <algorithm>

namespace velmora {

// The line edit that routes keys and focus changes to its owner's classic handlers.
class EditLine : public QLineEdit {
public:
    explicit EditLine(TEdit* owner) : QLineEdit(owner), owner_(owner) {
        connect(this, &QLineEdit::textChanged, owner_, [this] { owner_->Change(); });
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        QChar typed;
        if (!owner_->RouteKeyPress(event, &typed)) {
            return;
        }
        QChar original;
        if (!TypedCharacter(*event, &original) || typed == original) {
            QLineEdit::keyPressEvent(event);
            return;
        }
        // A handler changed the character: the edit gets a key that types the new one.
        const int key = typed == QChar(8) ? Qt::Key_Backspace : Qt::Key_unknown;
        QKeyEvent changed(QEvent::KeyPress, key, Qt::NoModifier, QString(typed));
        QLineEdit::keyPressEvent(&changed);
    }
    void keyReleaseEvent(QKeyEvent* event) override {
        owner_->RouteKeyRelease(event);
        QLineEdit::keyReleaseEvent(event);
    }
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        if (MovesBetweenControls(event->reason())) {
            owner_->DoEnter();
        }
    }
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        if (MovesBetweenControls(event->reason())) {
            owner_->DoExit();
        }
    }

private:
    static bool MovesBetweenControls(Qt::FocusReason reason) {
        return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
    }

    TEdit* owner_;
};

TEdit::TEdit(TComponent* owner) : TWinControl(owner), editor_(nullptr) {
    // The line edit lays out its text as it is made, in the font it inherits: given the control's
    // own, no face is loaded that nothing draws with.
    setFont(Font().ToQFont());
    editor_ = new EditLine(this);
    setFocusProxy(editor_);
    SetTabStop(true);
    SetParentColor(false);
    SetColor(clWindow);
    SetBounds(0, 0, 121, 21);
    FontChanged();
}

TEdit::~TEdit() = default;

QLineEdit* TEdit::Editor() const {
    return editor_;
}

QString TEdit::Text() const {
    return editor_->text();
}

void TEdit::SetText(const QString& text) {
    if (text != editor_->text()) {
        editor_->setText(text);
    }
}

void TEdit::SetMaxLength(int value) {
    maxLength_ = std::max(0, value);
    editor_->setMaxLength(maxLength_ > 0 ? maxLength_ : 32767);
}

bool TEdit::ReadOnly() const {
    return editor_->isReadOnly();
}

void TEdit::SetReadOnly(bool on) {
    editor_->setReadOnly(on);
}

int TEdit::SelStart() const {
    return editor_->hasSelectedText() ? editor_->selectionStart() : editor_->cursorPosition();
}

void TEdit::SetSelStart(int value) {
    editor_->deselect();
    editor_->setCursorPosition(std::clamp(value, 0, int(editor_->text().size())));
}

int TEdit::SelLength() const {
    return editor_->hasSelectedText() ? editor_->selectionLength() : 0;
}

void TEdit::SetSelLength(int value) {
    const int start = SelStart();
    const int end =
        int(std::min<long long>((long long)start + std::max(0, value), editor_->text().size()));
    editor_->setSelection(start, end - start);
}

QString TEdit::SelText() const {
    return editor_->selectedText();
}

void TEdit::SelectAll() {
    editor_->selectAll();
}

bool TEdit::Focused() const {
    return editor_->hasFocus();
}

void TEdit::SetFocus() {
    editor_->setFocus(Qt::OtherFocusReason);
}

void TEdit::SetAlignment(TAlignment value) {
    alignment_ = value;
    Qt::Alignment h = Qt::AlignLeft;
    if (value == taRightJustify) {
        h = Qt::AlignRight;
    } else if (value == taCenter) {
        h = Qt::AlignHCenter;
    }
    // Left and right swap for a right-to-left layout, as the platform's edit does.
    editor_->setAlignment(h | Qt::AlignVCenter);
}

void TEdit::Change() {
    if (OnChange) {
        OnChange(this);
    }
}

void TEdit::DoEnter() {
    if (OnEnter) {
        OnEnter(this);
    }
}

void TEdit::DoExit() {
    if (OnExit) {
        OnExit(this);
    }
}

void TEdit::FontChanged() {
    editor_->setFont(Font().ToQFont(PixelRatio()));
    QPalette palette = editor_->palette();
    palette.setColor(QPalette::Text, ToQColor(Font().Color()));
    editor_->setPalette(palette);
    TWinControl::FontChanged();
}

void TEdit::ColorChanged() {
    QPalette palette = editor_->palette();
    palette.setColor(QPalette::Base, ToQColor(Color()));
    editor_->setPalette(palette);
    TWinControl::ColorChanged();
}

void TEdit::Resize() {
    editor_->setGeometry(0, 0, Width(), Height());
    TWinControl::Resize();
}

}  // namespace velmora
