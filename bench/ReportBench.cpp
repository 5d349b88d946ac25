// A whole report from the click on "Bericht erstellen", with the three curve pictures of the
// test console: through the built-in writer to the saved .docx, and typed into LibreOffice Writer
// through UNO to the closed document; and how long the window's thread is held meanwhile, beside
// the same report run on the window's thread.
#include "GuiApplication.h"

#include "app/Unit1.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Bitmap.h"
#include "framework/Edit.h"
#include "framework/GraphicControl.h"
#include "framework/Memo.h"
#include "framework/MessageBox.h"
#include "framework/Shell.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"
#include "report/BuiltInWriter.h"
#include "report/ReportDocument.h"
#include "report/WordApplication.h"
#ifdef VELMORA_HAVE_LIBREOFFICE
#include "report/LibreOfficeWriter.h"
#endif

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <chrono>

namespace {

using namespace velmora;

// The patient fields and the three curve pictures, as the operator leaves them.
void FillIn(TForm1& form) {
    form.Edit1->SetText(QStringLiteral("4711"));
    form.Edit2->SetText(QStringLiteral("Erika"));
    form.Edit3->SetText(QStringLiteral("Mustermann"));
    form.Edit5->SetText(QStringLiteral("Hauptstraße 1"));
    form.NumEdit1->SetText(QStringLiteral("12345"));
    form.Edit4->SetText(QStringLiteral("Musterstadt"));
    form.Memo1->SetLines({QStringLiteral("Hört links schlechter."), QStringLiteral("Kontrolle.")});
    TBitmap curve;
    curve.Assign(form.PaintBox1->RenderImage());
    curve.SetPixelFormat(pf24bit);
    for (int ear = 0; ear < 3; ++ear) {
        curve.SaveToFile(TForm1::CurvePicturePath(ear));
        form.PicturePaths[std::size_t(ear)] = TForm1::CurvePicturePath(ear);
    }
}

// What the click's report is made of, as the handler takes it from the window.
TReportSources SourcesOf(TForm1& form) {
    TReportSources sources;
    sources.PatientId = form.Edit1->Text();
    sources.FirstName = form.Edit2->Text();
    sources.Name = form.Edit3->Text();
    sources.Town = form.Edit4->Text();
    sources.Street = form.Edit5->Text();
    sources.Postcode = form.NumEdit1->Text();
    sources.Remarks = form.Memo1->Text();
    sources.Date = QDate::currentDate();
    sources.CurvePictures = form.PicturePaths;
    return sources;
}

using Clock = std::chrono::steady_clock;

// A click on "Bericht erstellen" and the report's end, with the window's event loop running (and
// waiting) as it does in the program. The time the click's handler held the window's thread into
// `held` (the report hands it nothing else but its end, unless it has a box to show); the whole
// run's time back.
double ClickAndWait(TForm1& form, double* held) {
    const auto start = Clock::now();
    form.janColorButton2->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
    form.janColorButton2->DispatchMouseUp(mbLeft, 0, 5, 5);
    *held = std::chrono::duration<double>(Clock::now() - start).count();
    while (form.ReportRunning()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The same report as the click made it before reports had a thread of their own: the whole run
// on the window's thread, which it holds from start to end (on the window's connection, made on
// the report's thread: the bridge to LibreOffice takes calls from any thread).
double OnTheWindowsThread(TForm1& form) {
    const auto start = Clock::now();
    WriteReport(*form.WordApplication1, SourcesOf(form));
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A home of the benchmark's own for its reports, pictures and profiles.
class BenchHome {
public:
    BenchHome() {
        qputenv("HOME", home_.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home_.filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", home_.filePath(QStringLiteral("run")).toLocal8Bit());
        QDir().mkpath(home_.filePath(QStringLiteral("run")));
    }
    QString FilePath(const QString& name) const { return home_.filePath(name); }

private:
    QTemporaryDir home_;
};

// The report through the built-in writer to the saved (and opened) .docx and PDF. Arguments:
// 0 the click's whole run (the report on its thread, the window's event loop waiting meanwhile),
// 1 the time the click holds the window's thread, 2 the same report on the window's thread, which
// it holds all along (as before).
void BM_ReportToSavedFile(benchmark::State& state) {
    bench::EnsureGuiApplication();
    const BenchHome home;
    SetShellHandler([](const ShellRequest&) { return true; });  // no desktop program
    int boxes = 0;
    SetMessageBoxPresenter([&boxes](const MessageBoxRequest&) { return ++boxes, int(IDOK); });
    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
    TServerRegistry builtInOnly;  // even where an office suite is installed
    RegisterBuiltInWriter(builtInOnly);
    {
        TForm1 form(nullptr, sound, mixer);
        form.WordApplication1->SetServerRegistry(&builtInOnly);
        FillIn(form);
        QDir reports(ReportFolder());
        for (auto _ : state) {
            double held = 0;
            const double run =
                state.range(0) == 2 ? OnTheWindowsThread(form) : ClickAndWait(form, &held);
            state.SetIterationTime(state.range(0) == 1 ? held : run);
            reports.refresh();
            const QStringList saved = reports.entryList({QStringLiteral("*.docx")}, QDir::Files);
            if (saved.size() != 1 || boxes != 0) {
                state.SkipWithError("the report was not saved");
                break;
            }
            reports.remove(saved[0]);
        }
    }
    SetShellHandler({});
    SetMessageBoxPresenter({});
}
// Fixed counts: the window's share is so short that timing by it alone would make thousands of
// reports.
BENCHMARK(BM_ReportToSavedFile)
    ->ArgName("run_held_before")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

#ifdef VELMORA_HAVE_LIBREOFFICE
// The same with LibreOffice Writer taking the report: a headless instance of the benchmark's own
// (started by a first, untimed report), each report typed into a new document that the run then
// closes. Arguments as above.
void BM_ReportIntoWriter(benchmark::State& state) {
    bench::EnsureGuiApplication();
    const BenchHome home;
    int boxes = 0;
    SetMessageBoxPresenter([&boxes](const MessageBoxRequest&) { return ++boxes, int(IDOK); });

    TLibreOfficeOptions options = DefaultLibreOfficeOptions();
    options.pipeName = QStringLiteral("velmora-bench-%1").arg(QCoreApplication::applicationPid());
    options.profileUrl = QUrl::fromLocalFile(home.FilePath(QStringLiteral("lo"))).toString();
    options.arguments = {QStringLiteral("--headless")};
    TServerRegistry writerOnly;
    RegisterLibreOfficeWriter(writerOnly, options);

    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
    {
        TForm1 form(nullptr, sound, mixer);
        form.WordApplication1->SetServerRegistry(&writerOnly);
        FillIn(form);
        double held = 0;
        ClickAndWait(form, &held);  // starts the instance
        if (boxes != 0) {
            state.SkipWithError("LibreOffice did not start");
        }
        for (auto _ : state) {
            if (boxes != 0) {
                break;
            }
            const double run =
                state.range(0) == 2 ? OnTheWindowsThread(form) : ClickAndWait(form, &held);
            state.SetIterationTime(state.range(0) == 1 ? held : run);
            if (boxes != 0) {
                state.SkipWithError("the report was not typed without errors");
            }
        }
    }  // the window goes, and asks the instance to end
    // Its profile, in the folder that goes next, is in use until it has ended.
    const QString lock = home.FilePath(QStringLiteral("lo/.lock"));
    for (int i = 0; i < 300 && QFile::exists(lock); ++i) {
        QThread::msleep(100);
    }
    SetMessageBoxPresenter({});
}
BENCHMARK(BM_ReportIntoWriter)
    ->ArgName("run_held_before")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
