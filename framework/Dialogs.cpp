#include "Dialogs.h"

#include "framework/WindowThread.h"

#include <QApplication>
#include <QFileDialog>

namespace velmora {
namespace {

bool ShowWithQt(TSaveDialog& dialog) {
    const QStringList filters = dialog.Filter().split(QStringLiteral(";;"), Qt::SkipEmptyParts);
    QString selected = filters.value(dialog.FilterIndex() - 1);
    const QString name =
        QFileDialog::getSaveFileName(QApplication::activeWindow(), dialog.Title(),
                                     dialog.FileName(), dialog.Filter(), &selected);
    if (name.isEmpty()) {
        return false;
    }
    dialog.SetFileName(name);
    dialog.SetFilterIndex(int(filters.indexOf(selected)) + 1);
    return true;
}

TSaveDialog::Presenter& CurrentPresenter() {
    static TSaveDialog::Presenter presenter = ShowWithQt;
    return presenter;
}

}  // namespace

bool TSaveDialog::Execute() {
    // Dialogs belong to the window's thread, also when work on another thread asks.
    bool chosen = false;
    RunOnWindowThread([&] { chosen = CurrentPresenter()(*this); });
    return chosen;
}

TSaveDialog::Presenter TSaveDialog::SetPresenter(Presenter presenter) {
    Presenter previous = CurrentPresenter();
    CurrentPresenter() = presenter ? std::move(presenter) : Presenter(ShowWithQt);
    return previous;
}

}  // namespace velmora
