#include "MessageBox.h"

#include "framework/WindowThread.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace velmora {
namespace {

QMessageBox::Icon IconOf(unsigned flags) {
    switch (flags & 0xF0) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int ShowWithQt(const MessageBoxRequest& request) {
    // Over the window that is active, so that it stands in front of it and blocks it.
    QMessageBox box(IconOf(request.flags), request.caption, request.text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    switch (request.flags & 0x0F) {
        case MB_OKCANCEL:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MB_YESNOCANCEL:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        case MB_YESNO:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MB_YESONLY:
            box.setStandardButtons(QMessageBox::Yes);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
    // The platform's German button texts, whatever translations are installed; the first button
    // (OK or Yes) is the default, as the classic box has it.
    const struct {
        QMessageBox::StandardButton button;
        const char* text;
    } texts[] = {{QMessageBox::Ok, "OK"},
                 {QMessageBox::Cancel, "Abbrechen"},
                 {QMessageBox::Yes, "&Ja"},
                 {QMessageBox::No, "&Nein"}};
    for (const auto& t : texts) {
        if (QAbstractButton* button = box.button(t.button)) {
            button->setText(QString::fromUtf8(t.text));
        }
    }
    const unsigned buttons = request.flags & 0x0F;
    box.setDefaultButton(buttons == MB_YESNO || buttons == MB_YESNOCANCEL || buttons == MB_YESONLY
                             ? QMessageBox::Yes
                             : QMessageBox::Ok);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        default:
            return IDOK;
    }
}

int DefaultPresenter(const MessageBoxRequest& request) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        return ShowWithQt(request);
    }
    std::fprintf(stderr, "%s: %s\n", qPrintable(request.caption), qPrintable(request.text));
    switch (request.flags & 0x0F) {
        case MB_YESNO:
            return IDNO;
        case MB_YESONLY:
            return IDYES;
        default:
            return IDOK;
    }
}

MessageBoxPresenter& CurrentPresenter() {
    static MessageBoxPresenter presenter = DefaultPresenter;
    return presenter;
}

void DefaultBeep() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        QApplication::beep();
    }
}

BeepHandler& CurrentBeepHandler() {
    static BeepHandler handler = DefaultBeep;
    return handler;
}

}  // namespace

void Beep() {
    CurrentBeepHandler()();
}

BeepHandler SetBeepHandler(BeepHandler handler) {
    BeepHandler previous = CurrentBeepHandler();
    CurrentBeepHandler() = handler ? std::move(handler) : BeepHandler(DefaultBeep);
    return previous;
}

int MessageBox(const QString& text, const QString& caption, unsigned flags) {
    // Boxes belong to the window's thread, also when work on another thread asks.
    int answer = IDCANCEL;
    RunOnWindowThread([&] {
        answer = CurrentPresenter()(MessageBoxRequest{text, caption, flags});
    });
    return answer;
}

QString ApplicationTitle() {
    return QCoreApplication::instance() != nullptr ? QGuiApplication::applicationDisplayName()
                                                   : QString();
}

void ShowException(const QString& message) {
    MessageBox(message, ApplicationTitle(), MB_OK | MB_ICONERROR);
}

MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter) {
    MessageBoxPresenter previous = CurrentPresenter();
    CurrentPresenter() = presenter ? std::move(presenter) : MessageBoxPresenter(DefaultPresenter);
    return previous;
}

}  // namespace velmora
