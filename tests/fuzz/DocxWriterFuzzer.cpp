// The built-in document writer fed field texts of any content: the report is saved, once,
// without a box, as a package whose every XML part is well-formed, and each line of each field
// stands in the document as XML can carry it.
#include "FuzzSupport.h"

#include "framework/Shell.h"
#include "report/BuiltInWriter.h"
#include "report/ReportDocument.h"
#include "report/WordApplication.h"
#include "tests/report/BoxRecorder.h"
#include "tests/report/DocxReader.h"

#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace velmora;

namespace {

QTemporaryDir* home = nullptr;
QString picture;

// What a field's text becomes in the document: control characters other than tab and line
// breaks gone, unpaired surrogates and non-characters replaced; then its lines.
QStringList ExpectedLines(const QString& field) {
    QString clean;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QChar c = field[i];
        if (c.isHighSurrogate() && i + 1 < field.size() && field[i + 1].isLowSurrogate()) {
            clean += c;
            clean += field[++i];
        } else if (c.unicode() < 0x20) {
            if (c == u'\t' || c == u'\r' || c == u'\n') {
                clean += c;
            }
        } else if (c.isSurrogate() || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF) {
            clean += QChar(QChar::ReplacementCharacter);
        } else {
            clean += c;
        }
    }
    return clean.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
}

bool WellFormed(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
    }
    return !reader.hasError();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::StartApplication();
    home = new QTemporaryDir();
    qputenv("HOME", home->path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home->filePath(QStringLiteral("config")).toLocal8Bit());
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    // One small curve picture that some reports show.
    QImage image(7, 5, QImage::Format_RGB32);
    image.fill(Qt::red);
    picture = home->filePath(QStringLiteral("curve.png"));
    image.save(picture);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    test::BoxRecorder boxes;
    std::vector<ShellRequest> opened;
    const ShellHandler previousShell = SetShellHandler([&opened](const ShellRequest& request) {
        opened.push_back(request);
        return true;
    });
    TServerRegistry registry;
    RegisterBuiltInWriter(registry);
    TWordApplication word(nullptr);
    word.SetServerRegistry(&registry);

    TReportSources s;
    QString* fields[] = {&s.PatientId, &s.FirstName, &s.Name,     &s.Town,      &s.Street,
                         &s.EMail,     &s.Doctor,    &s.Postcode, &s.Telephone, &s.Remarks};
    for (QString* field : fields) {
        *field = in.Text(200);
    }
    s.Date = QDate(2026, 12, 7).addDays(in.Take<std::int16_t>());
    const std::uint8_t pictures = in.Byte();
    for (int i = 0; i < 3; ++i) {
        s.CurvePictures[std::size_t(i)] = (pictures >> i) & 1u ? picture : QString();
    }
    WriteReport(word, s);
    word.Disconnect();
    SetShellHandler(previousShell);

    FUZZ_REQUIRE(boxes.shown.empty());
    QDir folder(ReportFolder());
    const QStringList reports = folder.entryList({QStringLiteral("*.docx")}, QDir::Files);
    FUZZ_REQUIRE(reports.size() == 1);
    FUZZ_REQUIRE(opened.size() == 1);
    const QString path = folder.filePath(reports[0]);
    test::ReadDocument doc;
    QString error;
    const bool read = test::ReadDocx(path, &doc, &error);
    folder.remove(reports[0]);
    if (!read) {
        std::fprintf(stderr, "not readable: %s\n", qPrintable(error));
    }
    FUZZ_REQUIRE(read);
    for (const auto& [name, bytes] : doc.parts) {
        if (name.endsWith(QLatin1String(".xml")) || name.endsWith(QLatin1String(".rels"))) {
            FUZZ_REQUIRE(WellFormed(bytes));
        }
    }
    QStringList paragraphs;
    for (const test::ReadParagraph& p : doc.paragraphs) {
        paragraphs << p.Text();
    }
    const QString text = paragraphs.join(QLatin1Char('\n'));
    for (const QString* field : fields) {
        for (const QString& line : ExpectedLines(*field)) {
            if (!text.contains(line)) {
                std::fprintf(stderr, "missing line: %s\n", qPrintable(line));
            }
            FUZZ_REQUIRE(text.contains(line));
        }
    }
    int shown = 0;
    for (const test::ReadParagraph& p : doc.paragraphs) {
        shown += p.Pictures();
    }
    FUZZ_REQUIRE(shown == std::popcount(unsigned(pictures & 7u)));
    return 0;
}
