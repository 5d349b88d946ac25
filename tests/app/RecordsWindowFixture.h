#pragma once

// The test console with patient records on both databases: the window as the operator drives
// it, the records as another program reads them.

#include "app/Unit1.h"
#include "app/VisitRecorder.h"
#include "controls/ExTrackBar.h"
#include "controls/Hemibtn.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Dialogs.h"
#include "framework/Edit.h"
#include "framework/Memo.h"
#include "framework/MessageBox.h"
#include "framework/Notice.h"
#include "framework/RadioButton.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include "tests/records/RecordsFixture.h"
#include "tests/support/GuiTest.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <deque>
#include <memory>
#include <vector>

namespace velmora::test {

class RecordsWindowFixture : public GuiTestOf<RecordsFixture> {
protected:
    void SetUp() override {
        RecordsFixture::SetUp();
        ASSERT_TRUE(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
        mixer_.AddDevice("Card");
        mixer_.SetSpeakerOutput({"alsa_output.headphones", "Kopfhörer"});
        previousBox_ = SetMessageBoxPresenter([this](const MessageBoxRequest& request) {
            boxes_.push_back(request);
            if (answers_.empty()) {
                return (request.flags & 0x0F) == MB_YESNO ? int(IDNO) : int(IDOK);
            }
            const int answer = answers_.front();
            answers_.pop_front();
            return answer;
        });
        previousNotice_ =
            SetNoticePresenter([this](const MessageBoxRequest& request, std::function<void()>) {
                notices_.push_back(request);
                const std::size_t n = notices_.size() - 1;
                openNotices_.push_back(n);
                return std::function<void()>([this, n] { std::erase(openNotices_, n); });
            });
        previousDialog_ = TSaveDialog::SetPresenter([](TSaveDialog&) { return false; });
    }

    void TearDown() override {
        CloseWindow();
        SetMessageBoxPresenter(previousBox_);
        SetNoticePresenter(previousNotice_);
        TSaveDialog::SetPresenter(previousDialog_);
    }

    // The window on the records (short waits for a lock, so that a locked database fails soon).
    TForm1& OpenWindow() {
        DatabaseAddress address = Address();
        address.lockWaitMs = 200;
        QString error;
        database_ = RecordsDatabase::Open(address, &error);
        EXPECT_TRUE(database_) << error.toStdString();
        records_ = std::make_unique<PatientRecords>(*database_);
        form_ = std::make_unique<TForm1>(nullptr, sound_, mixer_, records_.get());
        form_->show();
        QApplication::processEvents();
        QApplication::processEvents();
        return *form_;
    }
    // Gone without closing, as in a crash.
    void CloseWindow() {
        form_.reset();
        records_.reset();
        database_.reset();
    }

    // Another program's view of the same records.
    PatientRecords& Reader() {
        if (!readerRecords_) {
            readerDatabase_ = Open();
            readerRecords_ = std::make_unique<PatientRecords>(*readerDatabase_);
        }
        return *readerRecords_;
    }
    // The only patient, their visits.
    std::vector<VisitInfo> VisitsOf(const QString& name) {
        const auto found = Reader().Search(name);
        EXPECT_EQ(found.size(), 1u) << name.toStdString();
        return found.empty() ? std::vector<VisitInfo>{} : Reader().VisitsOf(found[0].id);
    }

    // Typed as an operator types: a key event for each character (umlauts too).
    static void TypeInto(QWidget* widget, const QString& text) {
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(widget, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(widget, &release);
        }
    }
    static void Type(TEdit* field, const QString& text) { TypeInto(field->Editor(), text); }
    // The focus moves from the field to the next one.
    void Leave(TEdit* field, TEdit* next) {
        QApplication::setActiveWindow(form_.get());
        field->SetFocus();
        QApplication::processEvents();
        next->SetFocus();
        QApplication::processEvents();
    }
    void Take(int coarse, int fine) {
        form_->ExTrackBar1->SetPosition(coarse);
        form_->ExTrackBar2->SetPosition(fine);
        form_->HemisphereButton2Click(form_->HemisphereButton2);
    }
    static void Click(TjanColorButton* button) {
        button->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
        button->DispatchMouseUp(mbLeft, 0, 5, 5);
    }
    QImage Plot() { return form_->PaintBox1->grab().toImage(); }

    QTemporaryDir runtime_;
    SimulatedSoundOutput sound_;
    SimulatedMixerDevice mixer_;
    std::unique_ptr<RecordsDatabase> database_;
    std::unique_ptr<PatientRecords> records_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<RecordsDatabase> readerDatabase_;
    std::unique_ptr<PatientRecords> readerRecords_;
    std::vector<MessageBoxRequest> boxes_;
    std::deque<int> answers_;
    std::vector<MessageBoxRequest> notices_;
    std::vector<std::size_t> openNotices_;

private:
    MessageBoxPresenter previousBox_;
    NoticePresenter previousNotice_;
    TSaveDialog::Presenter previousDialog_;
};

}  // namespace velmora::test
