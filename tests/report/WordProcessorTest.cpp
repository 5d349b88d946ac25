// A report of the built-in writer opened in a real word processor: LibreOffice converts it to
// PDF, and the PDF's text and pictures are what the report lists.
#include "WriterFixture.h"

#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cstdlib>

namespace velmora::test {
namespace {

// Runs a program to its end; its standard output, or empty with *ok false.
QByteArray RunProgram(const QString& program, const QStringList& args, int timeoutMs, bool* ok) {
    QProcess process;
    process.start(program, args);
    *ok = process.waitForStarted(10000) && process.waitForFinished(timeoutMs) &&
          process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (process.state() != QProcess::NotRunning) {
        process.kill();  // only the process this test started
        process.waitForFinished(5000);
    }
    if (!*ok) {
        ADD_FAILURE() << program.toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return process.readAllStandardOutput();
}

class WordProcessor : public WriterFixture {};

TEST_F(WordProcessor, LibreOfficeOpensTheReportWithItsTextAndPictures) {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) {
        GTEST_SKIP() << "LibreOffice (soffice) is not installed; scripts/setup installs it";
    }
    WriteReport(word, FilledSources());
    ASSERT_EQ(Reports().size(), 1);
    const QString report = QDir(ReportFolder()).filePath(Reports()[0]);

    // A profile of its own, so that no other LibreOffice of the user is touched or joined.
    const QString profile = QUrl::fromLocalFile(home.filePath(QStringLiteral("lo"))).toString();
    const QString out = home.filePath(QStringLiteral("pdf"));
    bool ok = false;
    RunProgram(soffice,
               {QStringLiteral("-env:UserInstallation=") + profile, QStringLiteral("--headless"),
                QStringLiteral("--norestore"), QStringLiteral("--convert-to"),
                QStringLiteral("pdf"), QStringLiteral("--outdir"), out, report},
               300000, &ok);
    ASSERT_TRUE(ok);
    const QString pdf = QDir(out).filePath(QFileInfo(report).completeBaseName() + ".pdf");
    ASSERT_TRUE(QFile::exists(pdf)) << "LibreOffice did not convert the report";
    if (const char* keep = std::getenv("VELMORA_KEEP_REPORT_PDF")) {
        QFile::remove(QString::fromLocal8Bit(keep));
        QFile::copy(pdf, QString::fromLocal8Bit(keep));
    }

    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    const QString pdfimages = QStandardPaths::findExecutable(QStringLiteral("pdfimages"));
    if (pdftotext.isEmpty() || pdfimages.isEmpty()) {
        GTEST_SKIP() << "poppler-utils is not installed; the PDF was made but not read";
    }
    const QString text = QString::fromUtf8(
        RunProgram(pdftotext, {QStringLiteral("-layout"), pdf, QStringLiteral("-")}, 60000, &ok));
    ASSERT_TRUE(ok);
    for (const char* expected :
         {"Velmora - Relativtest vom 07.12.26", "Patient:", "Erika Mustermann",
          "Patienten-ID:", "4711", "Hauptstraße 1", "12345 Musterstadt", "0301234",
          "erika@example.org", "Behandelnder Arzt:", "Dr. Ohr",
          "Kurve für beide Ohren:", "Kurve für das linke Ohr:", "Kurve für das rechte Ohr:",
          "Bemerkungen:", "Hört links schlechter.", "Kontrolle in 3 Monaten."}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
    }
    // Order as typed: the sections follow one another.
    EXPECT_LT(text.indexOf(QStringLiteral("Kurve für beide")),
              text.indexOf(QStringLiteral("Kurve für das linke")));
    EXPECT_LT(text.indexOf(QStringLiteral("Kurve für das rechte")),
              text.indexOf(QStringLiteral("Bemerkungen:")));

    // One picture per section, at the bitmaps' sizes.
    const QStringList images =
        QString::fromUtf8(RunProgram(pdfimages, {QStringLiteral("-list"), pdf}, 60000, &ok))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
            .mid(2);  // two heading lines
    ASSERT_TRUE(ok);
    QStringList sizes;
    for (const QString& line : images) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() > 4 && fields[2] == QLatin1String("image")) {
            sizes << fields[3] + QLatin1Char('x') + fields[4];
        }
    }
    EXPECT_EQ(sizes, (QStringList{QStringLiteral("340x140"), QStringLiteral("340x140"),
                                  QStringLiteral("200x90")}));
}

}  // namespace
}  // namespace velmora::test
