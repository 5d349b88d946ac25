#include "Memo.h"

#include <QPalette>
#include <QPlainTextEdit>

namespace velmora {

TMemo::TMemo(TComponent* owner) : TWinControl(owner), editor_(nullptr) {
    // As a line edit (see TEdit): made in the control's own font.
    setFont(Font().ToQFont());
    editor_ = new QPlainTextEdit(this);
    setFocusProxy(editor_);
    editor_->setTabChangesFocus(true);
    editor_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (OnChange) {
            OnChange(this);
        }
    });
    SetTabStop(true);
    SetParentColor(false);
    SetColor(clWindow);
    SetScrollBars(ssNone);
    SetBounds(0, 0, 185, 89);
    FontChanged();
}

TMemo::~TMemo() = default;

QPlainTextEdit* TMemo::Editor() const {
    return editor_;
}

QString TMemo::Text() const {
    QString text = editor_->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

void TMemo::SetText(const QString& text) {
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (plain != editor_->toPlainText()) {
        editor_->setPlainText(plain);
    }
}

QStringList TMemo::Lines() const {
    QStringList lines = editor_->toPlainText().split(QLatin1Char('\n'));
    if (lines.size() > 1 && lines.back().isEmpty()) {
        lines.removeLast();
    } else if (lines.size() == 1 && lines.front().isEmpty()) {
        lines.clear();
    }
    return lines;
}

void TMemo::SetLines(const QStringList& lines) {
    QString text;
    for (const QString& line : lines) {
        text += line + QStringLiteral("\r\n");
    }
    SetText(text);
}

void TMemo::SetScrollBars(TScrollStyle value) {
    scrollBars_ = value;
    const bool vertical = value == ssVertical || value == ssBoth;
    const bool horizontal = value == ssHorizontal || value == ssBoth;
    editor_->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    editor_->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn
                                                     : Qt::ScrollBarAlwaysOff);
    // Without a horizontal scroll bar the lines wrap at the edge, as the classic memo's do.
    editor_->setLineWrapMode(horizontal ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
}

bool TMemo::Focused() const {
    return editor_->hasFocus();
}

void TMemo::SetFocus() {
    editor_->setFocus(Qt::OtherFocusReason);
}

void TMemo::FontChanged() {
    editor_->setFont(Font().ToQFont(PixelRatio()));
    QPalette palette = editor_->palette();
    palette.setColor(QPalette::Text, ToQColor(Font().Color()));
    editor_->setPalette(palette);
    TWinControl::FontChanged();
}

void TMemo::ColorChanged() {
    QPalette palette = editor_->palette();
    palette.setColor(QPalette::Base, ToQColor(Color()));
    editor_->setPalette(palette);
    TWinControl::ColorChanged();
}

void TMemo::Resize() {
    editor_->setGeometry(0, 0, Width(), Height());
    TWinControl::Resize();
}

}  // namespace velmora
