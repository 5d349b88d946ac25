#pragma once

#include <QString>

#include <functional>

namespace velmora {

// Buttons and icons of a modal message box, with the classic values so that callers can keep
// the combinations they were written with.
enum MessageBoxFlags : unsigned {
    MB_OK = 0x0000,
    MB_OKCANCEL = 0x0001,
    MB_YESNOCANCEL = 0x0003,
    MB_YESNO = 0x0004,
    MB_YESONLY = 0x0008,  // a single Yes button (the report's error box)
    MB_ICONERROR = 0x0010,
    MB_ICONQUESTION = 0x0020,
    MB_ICONWARNING = 0x0030,
    MB_ICONINFORMATION = 0x0040,
};

enum MessageBoxResult : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

// What a message box shows.
struct MessageBoxRequest {
    QString text;
    QString caption;
    unsigned flags = MB_OK;
};

// Shows a modal message box and returns the button the user chose.
//
// The box is shown by the current presenter: a QMessageBox while a QApplication exists, a line
// on stderr otherwise (command-line tools). Tests install their own presenter to see what would
// be shown and to answer it. Called from another thread, the box is shown by the window's thread
// (WindowThread.h), which the caller waits for.
int MessageBox(const QString& text, const QString& caption, unsigned flags);

// The application's standard error box: the message with the application's title as caption,
// an OK button and the error icon. The title is the application's display name (empty without
// an application).
void ShowException(const QString& message);
QString ApplicationTitle();

// Sounds the platform's default beep (nothing without an application). Tests install their own
// handler to count beeps.
void Beep();
using BeepHandler = std::function<void()>;
// Installs a beep handler and returns the previous one; an empty handler restores the default.
BeepHandler SetBeepHandler(BeepHandler handler);

using MessageBoxPresenter = std::function<int(const MessageBoxRequest&)>;

// Installs a presenter and returns the previous one; an empty presenter restores the default.
MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter);

}  // namespace velmora
