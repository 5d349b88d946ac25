#include "framework/Notice.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <cstdio>

namespace velmora {
namespace {

std::function<void()> ShowWithQt(const MessageBoxRequest& request,
                                 std::function<void()> closedByUser) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, request.caption, request.text, QMessageBox::Ok,
                                QApplication::activeWindow());
    box->button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Not modal: the window stays usable while a warning stands ("Stumm" above all).
    box->setWindowModality(Qt::NonModal);
    QObject::connect(box, &QMessageBox::finished, box,
                     [closed = std::move(closedByUser)](int) { closed(); });
    box->show();
    QPointer<QMessageBox> shown(box);
    return [shown] {
        if (shown) {
            // Closed by the program: the user did not answer it.
            QObject::disconnect(shown, &QMessageBox::finished, nullptr, nullptr);
            shown->close();
        }
    };
}

std::function<void()> DefaultPresenter(const MessageBoxRequest& request,
                                       std::function<void()> closedByUser) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        return ShowWithQt(request, std::move(closedByUser));
    }
    std::fprintf(stderr, "%s: %s\n", qPrintable(request.caption), qPrintable(request.text));
    return [] {};
}

NoticePresenter& CurrentPresenter() {
    static NoticePresenter presenter = DefaultPresenter;
    return presenter;
}

}  // namespace

Notice::Notice(QString text, QString caption)
    : request_{std::move(text), std::move(caption), MB_OK} {}

Notice::~Notice() {
    Close();
}

void Notice::Show() {
    if (*shown_) {
        return;
    }
    *shown_ = true;
    ++timesShown_;
    // The flag outlives this object, so a box the user closes late tells nobody who is gone.
    close_ = CurrentPresenter()(request_, [shown = shown_] { *shown = false; });
}

void Notice::Close() {
    if (!*shown_) {
        return;
    }
    *shown_ = false;
    if (close_) {
        std::function<void()> close = std::move(close_);
        close_ = nullptr;
        close();
    }
}

NoticePresenter SetNoticePresenter(NoticePresenter presenter) {
    NoticePresenter previous = CurrentPresenter();
    CurrentPresenter() = presenter ? std::move(presenter) : NoticePresenter(DefaultPresenter);
    return previous;
}

}  // namespace velmora
