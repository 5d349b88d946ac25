// Velmora: the relative hearing test.
#include "app/GdtInbox.h"
#include "app/GdtLink.h"
#include "app/PracticeCommandLine.h"
#include "app/RecordsCommandLine.h"
#include "app/Unit1.h"
#include "framework/Application.h"
#include "framework/FontConfiguration.h"
#include "framework/German.h"
#include "framework/MessageBox.h"
#include "platform/mixer/PulseMixerDevice.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"

#include <QApplication>

#include <csignal>
#include <exception>
#include <memory>

int main(int argc, char* argv[]) {
    // A peer that goes away while the program writes to it (LibreOffice's end of the report's
    // connection, the sound server's socket, the desktop's opener, the log's reader) is an error of
    // that write, which each of them handles, and never the end of the program with everything the
    // operator typed. First, before any thread or connection exists.
    std::signal(SIGPIPE, SIG_IGN);
    using namespace velmora;
    // The patient records' own commands: a copy of them, their audit trail; without a window.
    const RecordsCommandLine recordsOptions = RecordsCommandLine::Read(argc, argv);
    if (recordsOptions.backup) {
        QCoreApplication core(argc, argv);
        return RunBackup(recordsOptions);
    }
    if (recordsOptions.audit) {
        QCoreApplication core(argc, argv);
        return RunAudit(recordsOptions);
    }
    // The practice's software: a patient's visits exported without a window, or a request.
    const PracticeCommandLine practiceOptions = PracticeCommandLine::Read(argc, argv);
    if (practiceOptions.exportWanted) {
        QCoreApplication core(argc, argv);
        return RunExport(practiceOptions, recordsOptions);
    }
    if (practiceOptions.gdt) {
        // A window already running for this user takes the request, and this start ends.
        QCoreApplication core(argc, argv);
        if (GdtInbox::HandOver(practiceOptions.gdtFile)) {
            return 0;
        }
    }
    // Read while the application connects to the display; the window's first font waits for it.
    FontConfigurationReader fontConfiguration;
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("velmora"));
    InstallGermanTranslation();
    SetApplicationTitle(QStringLiteral("Velmora - Relativtest"));
    fontConfiguration.Wait();
    try {
        // The desktop's sound server: the tone's playback and the mixer with the speaker line.
        // Without a server both behave as absent devices and the window says so. The server is
        // not asked before the window's first paint: its first sound opens the connection, and
        // until then the speakers' level is the one held, silence.
        PulseContext pulse({}, "Velmora", PulseContext::Opening::WhenAsked);
        PulseSoundOutput sound(pulse);
        PulseMixerDevice mixer(pulse, sound);
        OpenedRecords records;  // outlives the window that writes to them
        TForm1 window(nullptr, sound, mixer);
        window.show();
        // Once the window's first picture is out: the records (without them, none reachable, the
        // window works on and says why), then requests from the practice's software, at start,
        // from a second start and from the exchange folder, each taken when no box is open.
        GdtInbox inbox;
        window.AfterFirstPicture([&] {
            records = OpenRecords(recordsOptions);
            window.TakeRecords(records.records.get(), records.server, records.problem);
            const GdtSettings gdtSettings = GdtSettings::Read();
            window.SetGdtLink(std::make_unique<GdtLink>(gdtSettings));
            QString inboxProblem;
            if (!inbox.Listen(&inboxProblem)) {
                qWarning("velmora: no hand-over of GDT requests: %s", qPrintable(inboxProblem));
            }
            inbox.Watch(gdtSettings.folder, gdtSettings.RequestFileName());
            inbox.OnRequest = [&window](const QString& path) {
                if (path.isEmpty()) {
                    window.raise();
                    window.activateWindow();
                } else {
                    window.TakeGdtRequest(path);
                }
            };
            inbox.Post([&window, &practiceOptions] { window.StartGdt(practiceOptions.gdtFile); });
        });
        QApplication::exec();
    } catch (const std::exception& error) {
        HandleException(error);
    }
    return 0;
}
