// Radio buttons, labels and memos with the classic rules the window's handlers rely on.
#include "framework/Label.h"
#include "framework/Memo.h"
#include "framework/RadioButton.h"
#include "framework/WinControl.h"
#include "tests/support/GuiTest.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

class StandardControlsTest : public GuiTest {
protected:
    TRadioButton* Radio(TWinControl& parent, const char* name) {
        auto* r = new TRadioButton(&parent);
        r->SetName(QString::fromLatin1(name));
        r->SetParent(&parent);
        r->OnClick = [this](TComponent* sender) { clicks_.push_back(sender->Name()); };
        return r;
    }
    std::vector<QString> clicks_;
};

TEST_F(StandardControlsTest, CheckingARadioButtonUnchecksItsGroupAndRunsItsClickOnce) {
    TWinControl window;
    TWinControl groupA(&window), groupB(&window);
    groupA.SetParent(&window);
    groupB.SetParent(&window);
    TRadioButton* a1 = Radio(groupA, "a1");
    TRadioButton* a2 = Radio(groupA, "a2");
    TRadioButton* b1 = Radio(groupB, "b1");
    b1->SetChecked(true);
    a1->SetChecked(true);
    a2->SetChecked(true);
    EXPECT_FALSE(a1->Checked());
    EXPECT_FALSE(a1->Button()->isChecked());
    EXPECT_TRUE(a2->Checked());
    EXPECT_TRUE(b1->Checked());  // another group box is another group
    EXPECT_EQ(clicks_, (std::vector<QString>{"b1", "a1", "a2"}));

    a2->SetChecked(true);  // already checked: nothing
    a1->SetChecked(false);
    EXPECT_EQ(clicks_.size(), 3u);

    // The user's click checks an unchecked button; a click on the checked one does nothing.
    window.show();
    QTest::mouseClick(a1->Button(), Qt::LeftButton, {}, QPoint(6, 8));
    QTest::mouseClick(a1->Button(), Qt::LeftButton, {}, QPoint(6, 8));
    EXPECT_TRUE(a1->Checked());
    EXPECT_TRUE(a1->Button()->isChecked());
    EXPECT_FALSE(a2->Checked());
    EXPECT_EQ(clicks_, (std::vector<QString>{"b1", "a1", "a2", "a1"}));
}

TEST_F(StandardControlsTest, RadioButtonShowsItsColourBehindTheCaption) {
    TWinControl window;
    window.SetBounds(0, 0, 100, 40);
    TRadioButton* r = Radio(window, "r");
    r->SetBounds(0, 0, 61, 17);
    r->SetCaption(QStringLiteral("Links"));
    r->SetColor(RGB(135, 0, 255));
    window.show();
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(FromQRgb(shot.pixel(58, 2)), RGB(135, 0, 255));
    EXPECT_EQ(FromQRgb(shot.pixel(80, 20)), ColorToRGB(clBtnFace));
}

TEST_F(StandardControlsTest, MemoTextIsItsLinesWithCarriageReturnLineFeed) {
    TMemo memo;
    memo.SetLines({QString()});
    EXPECT_EQ(memo.Text(), QStringLiteral("\r\n"));
    EXPECT_EQ(memo.Lines(), QStringList{QString()});
    memo.SetLines({QStringLiteral("Tinnitus links"), QStringLiteral("seit 2019")});
    EXPECT_EQ(memo.Text(), QStringLiteral("Tinnitus links\r\nseit 2019\r\n"));
    EXPECT_EQ(memo.Editor()->blockCount(), 3);

    memo.Clear();
    EXPECT_TRUE(memo.Text().isEmpty());
    EXPECT_TRUE(memo.Lines().isEmpty());
    QTest::keyClicks(memo.Editor(), QStringLiteral("a"));
    QTest::keyClick(memo.Editor(), Qt::Key_Return);
    QTest::keyClicks(memo.Editor(), QStringLiteral("b"));
    EXPECT_EQ(memo.Text(), QStringLiteral("a\r\nb"));  // typed text: no final line break
    memo.SetText(QStringLiteral("x\ry"));
    EXPECT_EQ(memo.Lines(), (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
}

TEST_F(StandardControlsTest, LabelFitsItsTextOnceLoadedAndWrapsWithinItsWidth) {
    TWinControl window;
    TLabel label(&window);
    label.SetParent(&window);
    label.BeginLoading();
    label.SetBounds(10, 12, 5, 5);
    label.SetCaption(QStringLiteral("Bemerkungen"));
    EXPECT_EQ(label.Width(), 5);  // stored bounds stay while loading
    label.EndLoading();
    TCanvas measure;
    measure.SetFont(label.Font());
    EXPECT_EQ(label.Width(), measure.TextWidth(QStringLiteral("Bemerkungen")));
    EXPECT_EQ(label.Height(), measure.TextHeight(QStringLiteral("B")));
    EXPECT_EQ(label.Left(), 10);

    label.SetAutoSize(false);
    label.SetBounds(10, 12, 73, 29);
    label.SetWordWrap(true);
    label.SetCaption(QStringLiteral("Wert\nübernehmen"));
    EXPECT_EQ(label.Height(), 29);

    // Drawn on its colour, with the text's pixels in the font's colour.
    label.SetColor(RGB(0, 128, 0));
    label.Font().SetColor(RGB(255, 0, 0));
    const QImage image = label.RenderImage();
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            red += FromQRgb(image.pixel(x, y)) == RGB(255, 0, 0);
        }
    }
    EXPECT_GT(red, 20);
    EXPECT_EQ(FromQRgb(image.pixel(72, 28)), RGB(0, 128, 0));
}

}  // namespace
}  // namespace velmora
