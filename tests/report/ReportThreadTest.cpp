// The report's thread: work in order on one thread of its own, the boxes it asks for shown by the
// window's thread, which never waits for it without its event loop.
#include "report/ReportThread.h"

#include "framework/Dialogs.h"
#include "framework/MessageBox.h"

#include "tests/support/GuiTest.h"

#include <QApplication>
#include <QThread>

#include <memory>
#include <vector>

namespace velmora {
namespace {

using ReportThread = GuiTest;

TEST_F(ReportThread, RunsInOrderAwayFromTheWindowAndShowsItsBoxesThere) {
    const QThread* const window = QThread::currentThread();
    std::vector<const QThread*> boxShownOn;
    std::vector<const QThread*> dialogShownOn;
    const auto previousBox = SetMessageBoxPresenter([&](const MessageBoxRequest&) {
        boxShownOn.push_back(QThread::currentThread());
        return int(IDYES);
    });
    const auto previousDialog = TSaveDialog::SetPresenter([&](TSaveDialog&) {
        dialogShownOn.push_back(QThread::currentThread());
        return true;
    });
    std::vector<int> order;  // written by the work, read once it has all run
    std::vector<const QThread*> ranOn;
    std::vector<int> answers;
    int done = 0;
    QObject context;
    auto gone = std::make_unique<QObject>();
    {
        TReportThread reports;
        for (int step = 0; step < 3; ++step) {
            reports.Run(
                [&, step] {
                    order.push_back(step);
                    ranOn.push_back(QThread::currentThread());
                    answers.push_back(MessageBox(QStringLiteral("?"), QString(), MB_YESNO));
                    TSaveDialog dialog;
                    dialog.Execute();
                },
                &context, [&] { ++done; });
        }
        // The end of work whose window went is not told.
        reports.Run([] {}, gone.get(), [&] { done += 100; });
        gone.reset();
        reports.Wait();  // the boxes are shown meanwhile: no deadlock
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
        QApplication::processEvents();
        EXPECT_EQ(done, 3);
    }
    ASSERT_EQ(ranOn.size(), 3u);
    EXPECT_NE(ranOn[0], window);
    EXPECT_EQ(ranOn[1], ranOn[0]);
    EXPECT_EQ(ranOn[2], ranOn[0]);
    EXPECT_EQ(answers, (std::vector<int>{IDYES, IDYES, IDYES}));
    EXPECT_EQ(boxShownOn, (std::vector<const QThread*>(3, window)));
    EXPECT_EQ(dialogShownOn, (std::vector<const QThread*>(3, window)));
    SetMessageBoxPresenter(previousBox);
    TSaveDialog::SetPresenter(previousDialog);
}

}  // namespace
}  // namespace velmora
