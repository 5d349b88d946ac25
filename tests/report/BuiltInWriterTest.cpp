// The built-in writer end to end: a report run produces a .docx that holds what the report
// lists, read back with a zip reader and an XML reader as a word processor would.
#include "report/DocxPackage.h"

#include "report/ZipArchive.h"

#include "DocxReader.h"
#include "WriterFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

namespace velmora::test {
namespace {

class BuiltInWriter : public WriterFixture {
protected:
    // Reads the one report saved.
    ReadDocument ReadReport() {
        ReadDocument doc;
        const QStringList reports = Reports();
        EXPECT_EQ(reports.size(), 1);
        if (reports.size() != 1) {
            return doc;
        }
        QString error;
        EXPECT_TRUE(ReadDocx(QDir(ReportFolder()).filePath(reports[0]), &doc, &error))
            << error.toStdString();
        return doc;
    }
};

TEST_F(BuiltInWriter, AWholeReportHoldsEveryLinePictureAndFormat) {
    const TReportSources sources = FilledSources();
    WriteReport(word, sources);
    EXPECT_TRUE(boxes.shown.empty());

    // Saved under the patient's ID and opened once on the desktop.
    const QStringList reports = Reports();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^Velmora-Bericht 4711 \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d"
                                   "\\.docx$"))
                    .match(reports[0])
                    .hasMatch())
        << reports[0].toStdString();
    const QString path = QDir(ReportFolder()).filePath(reports[0]);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].operation, QStringLiteral("open"));
    EXPECT_EQ(QUrl(opened[0].file).toLocalFile(), path);

    const ReadDocument doc = ReadReport();
    const QStringList& expected = ExpectedLines();
    QStringList texts;
    for (const ReadParagraph& p : doc.paragraphs) {
        texts << p.Text();
    }
    EXPECT_EQ(texts, expected);
    ASSERT_EQ(doc.paragraphs.size(), std::size_t(expected.size()));

    // Bold and size of what was typed: the title 18 point bold, the rest 14 point, the
    // headings bold; the paragraph break before "Bemerkungen:" was typed in bold.
    const auto format = [&](int paragraph) {
        const ReadRun& run = doc.paragraphs[std::size_t(paragraph)].runs.at(0);
        return std::pair(run.bold, run.halfPoints);
    };
    EXPECT_EQ(format(0), std::pair(true, 36));
    EXPECT_EQ(format(1), std::pair(false, 28));
    for (int line = 3; line <= 9; ++line) {
        EXPECT_EQ(format(line), std::pair(false, 28)) << line;
    }
    for (const int heading : {11, 15, 19, 23}) {
        EXPECT_EQ(format(heading), std::pair(true, 28)) << heading;
    }
    EXPECT_EQ(format(24), std::pair(false, 28));
    EXPECT_EQ(format(25), std::pair(false, 28));
    EXPECT_TRUE(doc.paragraphs[22].markBold);
    EXPECT_FALSE(doc.paragraphs[12].markBold);
    EXPECT_EQ(doc.paragraphs[2].markHalfPoints, 28);

    // The three pictures, in their sections, as the bitmaps' pixels at 96 dpi.
    const int pictureParagraphs[] = {13, 17, 21};
    for (int ear = 0; ear < 3; ++ear) {
        const ReadParagraph& p = doc.paragraphs[std::size_t(pictureParagraphs[ear])];
        ASSERT_EQ(p.Pictures(), 1) << ear;
        const ReadRun& run = p.runs[0];
        const QString target = doc.relationships.at(run.picture);
        const QImage embedded =
            QImage::fromData(doc.parts.at(QStringLiteral("word/") + target), "PNG");
        TBitmap bitmap;
        ASSERT_TRUE(bitmap.LoadFromFile(sources.CurvePictures[std::size_t(ear)]));
        EXPECT_EQ(embedded.convertToFormat(QImage::Format_RGB32),
                  bitmap.Image().convertToFormat(QImage::Format_RGB32))
            << ear;
        EXPECT_EQ(run.cx, qint64(bitmap.Width()) * 9525);
        EXPECT_EQ(run.cy, qint64(bitmap.Height()) * 9525);
    }
    int pictures = 0;
    for (const ReadParagraph& p : doc.paragraphs) {
        pictures += p.Pictures();
    }
    EXPECT_EQ(pictures, 3);
    EXPECT_TRUE(doc.entries.contains(QStringLiteral("[Content_Types].xml")));
    EXPECT_TRUE(doc.entries.contains(QStringLiteral("_rels/.rels")));

    // The writer keeps running for the next report.
    EXPECT_TRUE(word.Connected());
    IUnknown* running = nullptr;
    EXPECT_EQ(registry.GetActiveObject(Word_2k::CLSID_WordApplication, &running), S_OK);
    if (running != nullptr) {
        running->Release();
    }
}

TEST_F(BuiltInWriter, LineBreaksOfEveryKindAndTextThatXmlMustEscape) {
    TReportSources sources;
    sources.Date = QDate(2026, 1, 2);
    sources.PatientId = QStringLiteral("A/B:7?");
    sources.Name = QStringLiteral("<Müller & Söhne> \"x\"");
    sources.Remarks =
        QStringLiteral("eins\rzwei\ndrei\r\nvier\tfünf") + QChar(1) + QStringLiteral(" ]]> &amp;");
    WriteReport(word, sources);

    ASSERT_EQ(Reports().size(), 1);
    EXPECT_TRUE(Reports()[0].startsWith(QStringLiteral("Velmora-Bericht A_B_7_ 2026-")));
    const ReadDocument doc = ReadReport();
    ASSERT_GE(doc.paragraphs.size(), 4u);
    const std::size_t n = doc.paragraphs.size();
    EXPECT_EQ(doc.paragraphs[n - 4].Text(), QStringLiteral("eins"));
    EXPECT_EQ(doc.paragraphs[n - 3].Text(), QStringLiteral("zwei"));
    EXPECT_EQ(doc.paragraphs[n - 2].Text(), QStringLiteral("drei"));
    EXPECT_EQ(doc.paragraphs[n - 1].Text(), QStringLiteral("vier\tfünf ]]> &amp;"));
    EXPECT_EQ(doc.paragraphs[3].Text(),
              QStringLiteral("Patient:") + Blanks(26) + QStringLiteral("<Müller & Söhne> \"x\""));
}

// The reports' folder cannot be made: the operator is told why and chooses another place.
TEST_F(BuiltInWriter, AReportThatCannotBeSavedWhereItShouldGoesWhereTheOperatorChooses) {
    QDir().mkpath(home.filePath(QStringLiteral("Documents")));
    QFile blocker(ReportFolder());  // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    // Cancelled: nothing is saved, the run fails as a close that did not succeed.
    WriteReport(word, FilledSources());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Fehler"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Der Bericht konnte nicht gespeichert "
                                                  "werden.\n\nDatei: %1\nGrund: Dort liegt schon "
                                                  "eine Datei, kein Ordner.\n\nBitte wählen Sie "
                                                  "einen anderen Ort.")
                                       .arg(ReportFolder()));
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].title, QStringLiteral("Bericht speichern unter"));
    EXPECT_EQ(QFileInfo(dialogs[0].fileName).path(), home.filePath(QStringLiteral("Documents")));
    EXPECT_TRUE(opened.empty());
    // The failed close disconnected, which told the writer to quit.
    EXPECT_FALSE(word.Connected());
    IUnknown* running = nullptr;
    EXPECT_EQ(registry.GetActiveObject(Word_2k::CLSID_WordApplication, &running), MK_E_UNAVAILABLE);

    // A place chosen: the report is there, whole, and opened.
    QDir().mkpath(home.filePath(QStringLiteral("elsewhere")));
    chooseFile = home.filePath(QStringLiteral("elsewhere/Bericht Erika"));
    WriteReport(word, FilledSources());
    const QString saved = chooseFile + QStringLiteral(".docx");
    ReadDocument doc;
    QString error;
    ASSERT_TRUE(ReadDocx(saved, &doc, &error)) << error.toStdString();
    EXPECT_EQ(doc.paragraphs.size(), std::size_t(ExpectedLines().size()));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].file.endsWith(QStringLiteral("Bericht%20Erika.docx")));
    EXPECT_TRUE(word.Connected());
}

// Another program saves a file of the report's name while the report is written: both are kept.
TEST(ZipWriter, AFileThatAppearsWhileTheArchiveIsWrittenIsKept) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bericht.docx"));
    ZipWriter zip;
    ASSERT_TRUE(zip.Create(path));
    ASSERT_TRUE(zip.Add(QStringLiteral("a.txt"), QByteArray("mine"), true));
    {
        QFile other(path);
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("theirs");
    }
    EXPECT_FALSE(zip.Commit());
    EXPECT_TRUE(zip.Exists());
    QFile other(path);
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    EXPECT_EQ(other.readAll(), QByteArray("theirs"));
    // Nothing of the archive is left behind, and the next name takes it whole.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Bericht.docx"});
    ZipWriter second;
    ASSERT_TRUE(second.Create(dir.filePath(QStringLiteral("Bericht (2).docx"))));
    ASSERT_TRUE(second.Add(QStringLiteral("a.txt"), QByteArray("mine"), true));
    EXPECT_TRUE(second.Commit());
    ZipReader reader;
    ASSERT_TRUE(reader.Open(dir.filePath(QStringLiteral("Bericht (2).docx"))));
    QByteArray read;
    EXPECT_TRUE(reader.Read(QStringLiteral("a.txt"), &read));
    EXPECT_EQ(read, QByteArray("mine"));
}

TEST_F(BuiltInWriter, WithoutAProgramToOpenItTheOperatorLearnsWhereItIs) {
    openSucceeds = false;
    WriteReport(word, FilledSources());
    ASSERT_EQ(Reports().size(), 1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.contains(QDir(ReportFolder()).filePath(Reports()[0])));
    EXPECT_TRUE(word.Connected());  // saved: the close succeeded
}

// Beside the .docx, the same report as a PDF; where no program opens a .docx, the PDF opens.
TEST_F(BuiltInWriter, ThePdfBesideTheDocxHoldsTheSameReportAndOpensWhereADocxWouldNot) {
    SetShellHandler([this](const ShellRequest& request) {
        opened.push_back(request);
        return request.file.endsWith(QStringLiteral(".pdf"));
    });
    WriteReport(word, FilledSources());
    ASSERT_EQ(Reports().size(), 1);
    const QString docx = QDir(ReportFolder()).filePath(Reports()[0]);
    const QString pdf = docx.chopped(5) + QStringLiteral(".pdf");
    ASSERT_TRUE(QFile::exists(pdf));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_TRUE(opened[1].file.endsWith(QStringLiteral(".pdf")));
    EXPECT_TRUE(boxes.shown.empty());

    // Its text, read by poppler: every paragraph of the report, in order.
    auto run = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(20000)) << program.toStdString();
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    // (A long line may wrap on the page: the text is compared as one run of words.)
    const QString text =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), pdf, QStringLiteral("-")})
            .simplified();
    qsizetype at = 0;
    for (const QString& line : ExpectedLines()) {
        if (line.trimmed().isEmpty()) {
            continue;
        }
        const qsizetype found = text.indexOf(line.simplified(), at);
        ASSERT_GE(found, 0) << "missing or out of order: " << line.toStdString();
        at = found + line.simplified().size();
    }
    // And the three pictures (two header lines, then one line each).
    const QStringList images = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf})
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(images.size(), 2 + 3);
    // A4.
    EXPECT_TRUE(run(QStringLiteral("pdfinfo"), {pdf}).contains(QStringLiteral("(A4)")));
}

TEST_F(BuiltInWriter, APictureThatCannotBeReadIsAFailingGuardedCall) {
    TReportSources sources = FilledSources();
    QFile damaged(sources.CurvePictures[1]);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("BM this is no picture");
    damaged.close();
    WriteReport(word, sources);  // the box is answered No: the run goes on

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("HRCHECK: "));
    EXPECT_TRUE(boxes.shown[0].text.startsWith(
        QStringLiteral("'this->AddPicture(FileName, LinkToFile, SaveWithDocument, Range, "
                       "(Word_2k::InlineShapePtr*)&prop)': Das Bildformat ist unbekannt.")));
    const ReadDocument doc = ReadReport();
    int pictures = 0;
    for (const ReadParagraph& p : doc.paragraphs) {
        pictures += p.Pictures();
    }
    EXPECT_EQ(pictures, 2);
}

TEST_F(BuiltInWriter, SecondReportOnTheSameWriterIsASecondFile) {
    WriteReport(word, FilledSources());
    TReportSources second = FilledSources();
    second.PatientId = QStringLiteral("4712");
    WriteReport(word, second);
    const QStringList reports = Reports();
    ASSERT_EQ(reports.size(), 2);
    EXPECT_TRUE(reports[0].startsWith(QStringLiteral("Velmora-Bericht 4711 ")));
    EXPECT_TRUE(reports[1].startsWith(QStringLiteral("Velmora-Bericht 4712 ")));
    EXPECT_EQ(opened.size(), 2u);
}

// For the practice's file: the PDF of a report the built-in writer made is the one beside its
// .docx; a document added hidden is saved as PDF alone, under a name of its own, and neither
// opened nor told about.
TEST_F(BuiltInWriter, APdfForThePracticeIsTheOneBesideTheDocxOrAHiddenDocumentsAlone) {
    const QString beside = WriteReport(word, FilledSources(), true);
    ASSERT_EQ(Reports().size(), 1);
    EXPECT_EQ(beside, QDir(ReportFolder()).filePath(Reports()[0]).chopped(5) + ".pdf");
    EXPECT_TRUE(QFile::exists(beside));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_TRUE(WriteReport(word, FilledSources()).isEmpty());  // not asked for: none named
    opened.clear();

    QStringList saved;
    for (int i = 0; i < 2; ++i) {
        word.Connect();
        TVariant hidden = TVariant::Bool(false);
        word.Get_Documents().Add(TNoParam(), TNoParam(), TNoParam(), &hidden);
        word.Get_Selection().TypeText(WideString(QStringLiteral("Patienten-ID: 4711")));
        Word_2k::WordDocumentPtr document = word.Get_ActiveDocument();
        TVariant save = TVariant::Bool(true);
        ASSERT_EQ(document.Close(&save), S_OK);
        WideString name;
        ASSERT_TRUE(SUCCEEDED(document.get_FullName(&name)));
        saved << name.ToQString();
    }
    for (const QString& pdf : saved) {
        EXPECT_TRUE(pdf.endsWith(QStringLiteral(".pdf"))) << pdf.toStdString();
        EXPECT_TRUE(QFileInfo(pdf).fileName().startsWith(QStringLiteral("Velmora-Bericht 4711 ")));
        QFile file(pdf);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.read(5) == "%PDF-");
    }
    EXPECT_NE(saved[0], saved[1]);   // the second never replaces the first
    EXPECT_EQ(Reports().size(), 2);  // the two visible reports' .docx only
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(ReportFileName, NamesThatEveryFileSystemTakes) {
    const QDateTime when(QDate(2026, 12, 7), QTime(9, 5, 3));
    EXPECT_EQ(ReportFileName(QStringLiteral("4711"), when),
              QStringLiteral("Velmora-Bericht 4711 2026-12-07 09-05-03.docx"));
    EXPECT_EQ(ReportFileName(QStringLiteral("  "), when),
              QStringLiteral("Velmora-Bericht 2026-12-07 09-05-03.docx"));
    EXPECT_EQ(ReportFileName(QStringLiteral(" a/b\\c:d*e?f\"g<h>i|j\tk "), when, 2),
              QStringLiteral("Velmora-Bericht a_b_c_d_e_f_g_h_i_j_k 2026-12-07 09-05-03 (2).docx"));
    EXPECT_EQ(ReportFileName(QString(200, QLatin1Char('x')), when).size(),
              QStringLiteral("Velmora-Bericht  2026-12-07 09-05-03.docx").size() + 64);
}

}  // namespace
}  // namespace velmora::test
