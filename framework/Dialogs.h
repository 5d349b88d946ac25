#pragma once

#include "framework/Component.h"

#include <QString>

#include <functional>

namespace velmora {

// The platform's file-save dialog: Execute shows it modally and returns true when the user chose
// a file, which FileName then names. Filter lists the file types as "Description (*.ext)"
// entries separated by ";;"; FilterIndex (from 1) is the type chosen.
//
// Called from another thread, the dialog is shown by the window's thread (WindowThread.h), which
// the caller waits for. Tests install their own presenter to answer the dialog.
class TSaveDialog : public TComponent {
public:
    explicit TSaveDialog(TComponent* owner = nullptr) : TComponent(owner) {}

    const QString& Title() const { return title_; }
    void SetTitle(const QString& value) { title_ = value; }
    const QString& FileName() const { return fileName_; }
    void SetFileName(const QString& value) { fileName_ = value; }
    const QString& Filter() const { return filter_; }
    void SetFilter(const QString& value) { filter_ = value; }
    int FilterIndex() const { return filterIndex_; }
    void SetFilterIndex(int value) { filterIndex_ = value; }

    bool Execute();

    // Answers the dialog: returns false for Cancel, or sets the file name and filter index.
    using Presenter = std::function<bool(TSaveDialog& dialog)>;
    static Presenter SetPresenter(Presenter presenter);

private:
    QString title_;
    QString fileName_;
    QString filter_;
    int filterIndex_ = 1;
};

}  // namespace velmora
