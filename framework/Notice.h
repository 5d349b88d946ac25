#pragma once

#include "framework/MessageBox.h"

#include <QString>

#include <functional>
#include <memory>

namespace velmora {

// A warning that does not wait for an answer: it stands in front of the window until the user
// closes it or the program closes it because what it warned of is over. There is at most one of
// each at a time: showing it again while it stands does nothing.
//
// The box is shown by the current notice presenter: a QMessageBox with an OK button that neither
// holds the caller nor blocks the window (the operator can still mute while it stands) while a
// QApplication exists, a line on stderr otherwise. Tests install their own presenter to see what
// would be shown and to close it as the user would.
class Notice {
public:
    Notice(QString text, QString caption);
    ~Notice();

    Notice(const Notice&) = delete;
    Notice& operator=(const Notice&) = delete;

    void Show();
    void Close();
    bool IsShown() const { return *shown_; }
    // How often it was shown since it was made.
    int TimesShown() const { return timesShown_; }

private:
    MessageBoxRequest request_;
    std::shared_ptr<bool> shown_ = std::make_shared<bool>(false);
    std::function<void()> close_;
    int timesShown_ = 0;
};

// Shows a notice; calls `closedByUser` when the user closes it, and returns what closes it from
// the program.
using NoticePresenter = std::function<std::function<void()>(const MessageBoxRequest& request,
                                                            std::function<void()> closedByUser)>;

// Installs a presenter and returns the previous one; an empty presenter restores the default.
NoticePresenter SetNoticePresenter(NoticePresenter presenter);

}  // namespace velmora
