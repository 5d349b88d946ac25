#include "app/PracticeCommandLine.h"

#include "app/PatientExport.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace velmora {

PracticeCommandLine PracticeCommandLine::Read(int argc, char** argv) {
    PracticeCommandLine options;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        const auto next = [&]() -> QString {
            if (i + 1 < argc && !QString::fromLocal8Bit(argv[i + 1]).startsWith(u"--")) {
                return QString::fromLocal8Bit(argv[++i]);
            }
            return {};
        };
        if (argument == u"--gdt") {
            options.gdt = true;
            options.gdtFile = next();  // the file is optional
        } else if (argument.startsWith(u"--gdt=")) {
            options.gdt = true;
            options.gdtFile = argument.mid(6);
        } else if (argument == u"--export" || argument.startsWith(u"--export=")) {
            options.exportWanted = true;
            options.exportFile = argument == u"--export" ? next() : argument.mid(9);
        } else if (argument == u"--patient" || argument.startsWith(u"--patient=")) {
            options.exportPatient = argument == u"--patient" ? next() : argument.mid(10);
        }
    }
    if (options.exportWanted && (options.exportFile.isEmpty() || options.exportPatient.isEmpty())) {
        options.error = QStringLiteral(
            "--export braucht eine Datei und --patient eine "
            "Patienten-ID: velmora --export DATEI.csv --patient ID");
    }
    return options;
}

int RunExport(const PracticeCommandLine& options, const RecordsCommandLine& recordsOptions) {
    QString message = options.error;
    if (message.isEmpty()) {
        const OpenedRecords opened = OpenRecords(recordsOptions);
        if (!opened.records) {
            message = opened.problem;
        } else if (const auto id = PatientWithNumber(*opened.records, options.exportPatient)) {
            message = ExportPatient(*opened.records, *id, options.exportFile);
            if (message.isEmpty()) {
                std::fprintf(stdout, "%s\n",
                             qPrintable(QDir::toNativeSeparators(
                                 QFileInfo(options.exportFile).absoluteFilePath())));
                return 0;
            }
        } else {
            message = QStringLiteral("Kein gespeicherter Patient hat die Patienten-ID „%1“.")
                          .arg(options.exportPatient);
        }
    }
    std::fprintf(stderr, "velmora: %s\n", qPrintable(message));
    return 1;
}

}  // namespace velmora
