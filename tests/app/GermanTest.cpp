// What a German operator sees of the window beyond its own texts: Qt's dialogs and menus in
// German whatever the machine's locale, the reasons of failures in German, level bars drawn as the
// classic control draws them, and credit lines that fit their box.
#include "app/Unit1.h"

#include "controls/Credits.h"
#include "controls/ExTrackBar.h"
#include "framework/Bitmap.h"
#include "framework/German.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include "tests/support/GuiTest.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include <cerrno>
#include <memory>

namespace velmora {
namespace {

class GermanTest : public GuiTest {
protected:
    static void SetUpTestSuite() {
        GuiTest::SetUpTestSuite();
        installed_ = InstallGermanTranslation();
    }
    inline static bool installed_ = false;
};

QString Plain(QString text) {
    return text.remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0);
}

TEST_F(GermanTest, QtsOwnDialogsAndMenusSpeakGerman) {
    ASSERT_TRUE(installed_) << "Qt's German translation is not installed (qt6-translations-l10n)";
    QLineEdit field;
    std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList entries;
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator()) {
            entries << Plain(action->text());
        }
    }
    EXPECT_EQ(entries, (QStringList{"Rückgängig", "Wiederherstellen", "Ausschneiden", "Kopieren",
                                    "Einfügen", "Löschen", "Alles auswählen"}));

    // The save dialog behind "Kurve abspeichern" (Qt's own, on a desktop without a native one).
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QStringList seen;
    for (const QAbstractButton* button : dialog.findChild<QDialogButtonBox*>()->buttons()) {
        seen << Plain(button->text());
    }
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        seen << Plain(label->text());
    }
    for (const char* english :
         {"Save", "Cancel", "Look in:", "File name:", "Files of type:", "Open", "Undo", "Copy"}) {
        EXPECT_FALSE(seen.contains(QString::fromLatin1(english)))
            << english << " in " << seen.join(", ").toStdString();
    }
    EXPECT_TRUE(seen.contains(QStringLiteral("Speichern"))) << seen.join(", ").toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("Abbrechen")));
}

TEST_F(GermanTest, ReasonsOfFailuresAreGermanForWhatAnOperatorMeets) {
    // A real failure: a bitmap that cannot be written into a missing folder.
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    QString why;
    EXPECT_FALSE(bitmap.SaveToFile(QStringLiteral("/nonexistent-velmora/x.bmp"), &why));
    EXPECT_EQ(why, QStringLiteral("Der Ordner oder die Datei ist nicht vorhanden."));
    EXPECT_FALSE(ReasonOf(EPROTO).isEmpty());  // one an operator does not meet: the system's text
}

class WindowLook : public GuiTest {
protected:
    void SetUp() override { form_ = std::make_unique<TForm1>(nullptr, sound_, mixer_); }
    SimulatedSoundOutput sound_;
    SimulatedMixerDevice mixer_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(WindowLook, LevelBarChannelStaysUnfilledUpToTheThumb) {
    TExTrackBar& bar = *form_->ExTrackBar1;
    bar.SetPosition(3);
    const QImage image = bar.RenderImage();
    const TRect channel = bar.ChannelRect();
    const int from = bar.TickPosition(0);
    const int to = bar.ThumbRect().Left;
    const int beyond = bar.ThumbRect().Right + 8;  // the channel after the thumb, never filled
    ASSERT_LT(from, to);
    ASSERT_LT(beyond, channel.Right - 4);
    // Row by row, the channel before the thumb looks as it does after it: no fill in the style's
    // highlight colour (or any other).
    int filled = 0;
    for (int y = channel.Top; y < channel.Bottom; ++y) {
        for (int x = from + 2; x < to; ++x) {
            filled += image.pixel(x, y) != image.pixel(beyond, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(filled, 0) << "pixels of the channel before the thumb are filled";
}

TEST_F(WindowLook, EveryCreditLineFitsItsBox) {
    const TScrollingCredits& credits = *form_->ScrollingCredits1;
    TBitmap measure;
    measure.SetSize(1, 1);
    for (const QString& text : credits.Credits()) {
        const TCreditLine line = ParseCreditLine(text);
        TFont font = const_cast<TScrollingCredits&>(credits).CreditsFont();
        if (line.Bold) {
            font.SetStyle(fsBold);
        }
        measure.Canvas().SetFont(font);
        EXPECT_LE(measure.Canvas().TextWidth(line.Text), credits.Width() - 2)
            << line.Text.toStdString();
    }
}

}  // namespace
}  // namespace velmora
