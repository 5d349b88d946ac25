// The top-level window, the handler guard of the message loop and the shell services.
#include "framework/Application.h"
#include "framework/Form.h"
#include "framework/GraphicControl.h"
#include "framework/MessageBox.h"
#include "framework/Shell.h"
#include "tests/support/GuiTest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <stdexcept>

namespace velmora {
namespace {

class FormTest : public GuiTest {};

TEST_F(FormTest, OwnPaintEventRunsOnExposeAndRestoreNotOnChildRepaints) {
    TForm form;
    form.SetClientSize(200, 100);
    int paints = 0;
    form.OnPaint = [&](TComponent*) { ++paints; };
    TPaintBox box(&form);
    box.SetParent(&form);
    form.show();
    QApplication::processEvents();
    EXPECT_GE(paints, 1);

    const int shown = paints;
    for (int i = 0; i < 20; ++i) {
        box.Repaint();
        box.Invalidate();
        QApplication::processEvents();
    }
    EXPECT_EQ(paints, shown);

    form.showMinimized();
    QApplication::processEvents();
    form.showNormal();
    QApplication::processEvents();
    EXPECT_GT(paints, shown);
}

TEST_F(FormTest, FixedSizeWindowAndCloseThatAHandlerCanRefuse) {
    TForm form;
    form.SetBorderStyle(bsSingleFixed);
    form.SetBorderIcons(biSystemMenu | biMinimize);
    form.SetClientSize(873, 569);
    form.SetCaption(QStringLiteral("  Titel"));
    EXPECT_EQ(form.minimumSize(), QSize(873, 569));
    EXPECT_EQ(form.maximumSize(), QSize(873, 569));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("  Titel"));

    TCloseAction answer = caNone;
    int closes = 0;
    form.OnClose = [&](TComponent*, TCloseAction& action) {
        ++closes;
        EXPECT_EQ(action, caHide);
        action = answer;
    };
    form.show();
    form.Close();
    EXPECT_TRUE(form.isVisible());
    answer = caHide;
    form.Close();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(closes, 2);
}

TEST_F(FormTest, AnErrorStopsTheOutermostHandlerAndIsShownOnce) {
    std::vector<MessageBoxRequest> boxes;
    const MessageBoxPresenter previous = SetMessageBoxPresenter([&](const MessageBoxRequest& r) {
        boxes.push_back(r);
        return int(IDOK);
    });
    std::vector<int> steps;
    RunHandler([&] {
        steps.push_back(1);
        RunHandler([&] {
            steps.push_back(2);
            throw std::runtime_error("Division durch Null");
        });
        steps.push_back(3);  // the outer handler stops too
    });
    RunHandler([&] { steps.push_back(4); });  // and the next event is handled as usual
    SetMessageBoxPresenter(previous);
    EXPECT_EQ(steps, (std::vector<int>{1, 2, 4}));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Division durch Null"));
    EXPECT_EQ(boxes[0].flags, unsigned(MB_OK | MB_ICONERROR));
}

TEST_F(FormTest, PrivateDirectoryIsClosedToOthersAndNeverALink) {
    QTemporaryDir runtime;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const QString expected = QDir(runtime.path()).filePath(QStringLiteral("velmora"));

    EXPECT_EQ(PrivateDirectory(), expected);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(expected).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    ::chmod(QFile::encodeName(expected).constData(), 0755);  // opened up by someone: closed again
    EXPECT_EQ(PrivateDirectory(), expected);
    ASSERT_EQ(::stat(QFile::encodeName(expected).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    ASSERT_TRUE(QDir(expected).removeRecursively());
    QTemporaryDir planted;
    ASSERT_TRUE(QFile::link(planted.path(), expected));
    QString why;
    EXPECT_TRUE(PrivateDirectory(&why).isEmpty());
    EXPECT_FALSE(why.isEmpty());
    qputenv("XDG_RUNTIME_DIR", saved);

    EXPECT_FALSE(DeleteFile(QString()));
    EXPECT_FALSE(DeleteFile(QDir(runtime.path()).filePath(QStringLiteral("fehlt.bmp"))));
}

TEST_F(FormTest, QuestionBoxHasGermanButtonsWithYesAsDefault) {
    SetMessageBoxPresenter({});
    QStringList texts;
    QString defaultText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) {
            texts << button->text();
        }
        defaultText = box->defaultButton() ? box->defaultButton()->text() : QString();
        box->button(QMessageBox::No)->click();
    });
    const int answer =
        MessageBox(QStringLiteral("Sind Sie sicher?"), QStringLiteral("   Achtung!"), MB_YESNO);
    EXPECT_EQ(answer, IDNO);
    texts.sort();
    EXPECT_EQ(texts, (QStringList{QStringLiteral("&Ja"), QStringLiteral("&Nein")}));
    EXPECT_EQ(defaultText, QStringLiteral("&Ja"));

    // The error box of the report has the Yes button alone.
    texts.clear();
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) {
            texts << button->text();
        }
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(MessageBox(QStringLiteral("Kein Textprogramm"), QStringLiteral("Fehler"),
                         MB_YESONLY | MB_ICONERROR),
              IDYES);
    EXPECT_EQ(texts, QStringList{QStringLiteral("&Ja")});
}

}  // namespace
}  // namespace velmora
