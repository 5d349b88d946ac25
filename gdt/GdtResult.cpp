#include "gdt/GdtResult.h"

#include <algorithm>
#include <array>

namespace velmora {

namespace {

QString EarCode(GdtThreshold::Ear ear) {
    switch (ear) {
        case GdtThreshold::Ear::Right:
            return QStringLiteral("RE");
        case GdtThreshold::Ear::Left:
            return QStringLiteral("LI");
        case GdtThreshold::Ear::Both:
            break;
    }
    return QStringLiteral("BE");
}

QString EarLabel(GdtThreshold::Ear ear) {
    switch (ear) {
        case GdtThreshold::Ear::Right:
            return QStringLiteral("Rechts");
        case GdtThreshold::Ear::Left:
            return QStringLiteral("Links");
        case GdtThreshold::Ear::Both:
            break;
    }
    return QStringLiteral("Beide");
}

}  // namespace

QString GdtTestId(GdtThreshold::Ear ear, int frequency) {
    return EarCode(ear) +
           QStringLiteral("%1").arg(std::clamp(frequency, 0, 9999), 4, 10, QLatin1Char('0'));
}

QString GdtLevelText(int levelTenths) {
    const int tenths = std::clamp(levelTenths, 0, 99);
    return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
}

std::vector<QString> GdtThresholdTable(const std::vector<GdtThreshold>& thresholds) {
    // Columns of the frequencies taken, low to high; 5 characters each after a 7-character label.
    std::vector<int> frequencies;
    for (const GdtThreshold& t : thresholds) {
        if (std::find(frequencies.begin(), frequencies.end(), t.frequency) == frequencies.end()) {
            frequencies.push_back(t.frequency);
        }
    }
    if (frequencies.empty()) {
        return {};
    }
    std::sort(frequencies.begin(), frequencies.end());
    constexpr int kLabel = 7;
    constexpr int kColumn = 5;
    constexpr std::size_t kColumns = (kGdtMaxTextLine - kLabel) / kColumn;
    if (frequencies.size() > kColumns) {
        frequencies.resize(kColumns);
    }
    std::vector<QString> lines;
    QString head = QStringLiteral("Hz").leftJustified(kLabel);
    for (const int f : frequencies) {
        head += QString::number(f).rightJustified(kColumn);
    }
    lines.push_back(head);
    for (const GdtThreshold::Ear ear :
         {GdtThreshold::Ear::Right, GdtThreshold::Ear::Left, GdtThreshold::Ear::Both}) {
        QString line = EarLabel(ear).leftJustified(kLabel);
        bool any = false;
        for (const int f : frequencies) {
            QString cell = QStringLiteral("-");
            // The last take of a frequency counts.
            for (const GdtThreshold& t : thresholds) {
                if (t.ear == ear && t.frequency == f) {
                    cell = GdtLevelText(t.levelTenths);
                    any = true;
                }
            }
            line += cell.rightJustified(kColumn);
        }
        if (any) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<GdtField> GdtResultFields(const GdtResult& result, GdtCharset charset) {
    std::vector<GdtField> fields = {
        {gdt::kReceiverId, result.requestSenderId},
        {gdt::kSenderId, result.requestReceiverId},
        {gdt::kCharset, GdtCharsetValue(charset)},
        {gdt::kVersion, QString::fromLatin1(kGdtWrittenVersion)},
        {gdt::kPatientNumber, result.patientNumber},
    };
    // Names and the date of birth go back as they came; a field the request did not send is
    // not sent either.
    for (const auto& [id, text] :
         {std::pair{gdt::kName, &result.name}, std::pair{gdt::kFirstName, &result.firstName},
          std::pair{gdt::kBirthDate, &result.birthDate}}) {
        if (!text->isEmpty()) {
            fields.push_back({id, *text});
        }
    }
    fields.push_back({gdt::kProcedure, QString::fromLatin1(kGdtProcedure)});
    fields.push_back({gdt::kDate, result.visitStarted.date().toString(QStringLiteral("ddMMyyyy"))});
    fields.push_back({gdt::kTime, result.visitStarted.time().toString(QStringLiteral("HHmmss"))});
    fields.push_back(
        {gdt::kFindings, QStringLiteral("Relativer Hörtest, Stufen 0.0 bis 9.9 (nicht dB HL)")});
    for (const GdtThreshold& t : result.thresholds) {
        fields.push_back({gdt::kTestId, GdtTestId(t.ear, t.frequency)});
        fields.push_back({gdt::kTestValue, GdtLevelText(t.levelTenths)});
        fields.push_back({gdt::kTestUnit, QStringLiteral("Stufe")});
    }
    const std::vector<QString> table = GdtThresholdTable(result.thresholds);
    if (!table.empty()) {
        fields.push_back({gdt::kTableLines, QString::number(table.size())});
        for (const QString& line : table) {
            fields.push_back({gdt::kTableText, line});
        }
    }
    if (!result.reportPdf.isEmpty()) {
        fields.push_back({gdt::kFileId, QStringLiteral("VELMORA")});
        fields.push_back({gdt::kFileFormat, QStringLiteral("PDF")});
        fields.push_back({gdt::kFileDescription, QStringLiteral("Hoertest-Bericht")});
        fields.push_back({gdt::kFilePath, result.reportPdf});
    }
    return fields;
}

QByteArray GdtWriteResult(const GdtResult& result, GdtCharset charset) {
    return GdtWriteRecord(6310, GdtResultFields(result, charset), charset);
}

}  // namespace velmora
