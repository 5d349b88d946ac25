// A whole report from the click on "Bericht erstellen", with the three curve pictures of the
// test console: through the built-in writer to the saved .docx, and typed into LibreOffice Writer
// through UNO to the closed document.
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
    }
}

void BM_ReportClickToSavedFile(benchmark::State& state) {
    bench::EnsureGuiApplication();
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral("run")).toLocal8Bit());
    QDir().mkpath(home.filePath(QStringLiteral("run")));
    SetShellHandler([](const ShellRequest&) { return true; });  // no desktop program
    int boxes = 0;
    SetMessageBoxPresenter([&boxes](const MessageBoxRequest&) { return ++boxes, int(IDOK); });

    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
    TForm1 form(nullptr, sound, mixer);
    TServerRegistry builtInOnly;  // even where an office suite is installed
    RegisterBuiltInWriter(builtInOnly);
    form.WordApplication1->SetServerRegistry(&builtInOnly);
    FillIn(form);
    QDir reports(ReportFolder());

    for (auto _ : state) {
        form.janColorButton2->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
        form.janColorButton2->DispatchMouseUp(mbLeft, 0, 5, 5);
        state.PauseTiming();
        reports.refresh();
        const QStringList saved = reports.entryList({QStringLiteral("*.docx")}, QDir::Files);
        if (saved.size() != 1 || boxes != 0) {
            state.SkipWithError("the report was not saved");
            break;
        }
        reports.remove(saved[0]);
        state.ResumeTiming();
    }
    form.WordApplication1->Disconnect();
    SetShellHandler({});
    SetMessageBoxPresenter({});
}
BENCHMARK(BM_ReportClickToSavedFile)->Unit(benchmark::kMillisecond);

#ifdef VELMORA_HAVE_LIBREOFFICE
// The same click with LibreOffice Writer taking the report: a headless instance of the
// benchmark's own (started before the timing, through the server), each report typed into a new
// document that the run then closes.
void BM_ReportClickIntoWriter(benchmark::State& state) {
    bench::EnsureGuiApplication();
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral("run")).toLocal8Bit());
    QDir().mkpath(home.filePath(QStringLiteral("run")));
    int boxes = 0;
    SetMessageBoxPresenter([&boxes](const MessageBoxRequest&) { return ++boxes, int(IDOK); });

    TLibreOfficeOptions options = DefaultLibreOfficeOptions();
    options.pipeName = QStringLiteral("velmora-bench-%1").arg(QCoreApplication::applicationPid());
    options.profileUrl = QUrl::fromLocalFile(home.filePath(QStringLiteral("lo"))).toString();
    options.arguments = {QStringLiteral("--headless")};
    TServerRegistry writerOnly;
    RegisterLibreOfficeWriter(writerOnly, options);

    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
    TForm1 form(nullptr, sound, mixer);
    form.WordApplication1->SetServerRegistry(&writerOnly);
    FillIn(form);
    try {
        form.WordApplication1->Connect();
    } catch (const std::exception&) {
    }
    if (!form.WordApplication1->Connected()) {
        state.SkipWithError("LibreOffice did not start");
    }

    for (auto _ : state) {
        if (!form.WordApplication1->Connected()) {
            break;
        }
        form.janColorButton2->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
        form.janColorButton2->DispatchMouseUp(mbLeft, 0, 5, 5);
        if (boxes != 0) {
            state.SkipWithError("the report was not typed without errors");
            break;
        }
    }
    form.WordApplication1->Disconnect();  // ends the instance
    // Its profile, in the folder that goes next, is in use until it has ended.
    const QString lock = home.filePath(QStringLiteral("lo/.lock"));
    for (int i = 0; i < 300 && QFile::exists(lock); ++i) {
        QThread::msleep(100);
    }
    SetMessageBoxPresenter({});
}
BENCHMARK(BM_ReportClickIntoWriter)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
