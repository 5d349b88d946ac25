#pragma once

#include "gdt/GdtCharset.h"
#include "gdt/GdtRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

namespace velmora {

// A threshold as the result reports it.
struct GdtThreshold {
    enum class Ear { Both, Left, Right };
    Ear ear = Ear::Both;
    int frequency = 1000;
    int levelTenths = 0;  // the gauge's level, 0..99 for 0.0..9.9
};

// What a 6310 result holds: the request's ids and patient as received, the visit's time, its
// thresholds and the report's PDF when one was made.
struct GdtResult {
    QString requestReceiverId;  // the request's 8315 (this device), written as 8316
    QString requestSenderId;    // the request's 8316 (the practice software), written as 8315
    QString patientNumber;
    QString name;
    QString firstName;
    QString birthDate;
    QDateTime visitStarted;
    std::vector<GdtThreshold> thresholds;  // one per ear and frequency, in the order taken
    QString reportPdf;                     // absolute path; empty without a report
};

inline constexpr char kGdtWrittenVersion[] = "02.10";
inline constexpr char kGdtProcedure[] = "AUDI00";
inline constexpr int kGdtMaxTextLine = 60;  // 6228, 6305 and the like in 2.1

// The test's id in 8410: the ear (RE, LI, BE) and the frequency in four digits ("RE1000").
QString GdtTestId(GdtThreshold::Ear ear, int frequency);
// The level as the gauge shows it, one decimal, a point ("4.5").
QString GdtLevelText(int levelTenths);
// The lines of the thresholds' table (6228): a line of frequencies, then one per ear tested
// (right, left, both), each at most 60 characters; none without a threshold.
std::vector<QString> GdtThresholdTable(const std::vector<GdtThreshold>& thresholds);

// The result's fields after 8000 and 8100, in order.
std::vector<GdtField> GdtResultFields(const GdtResult& result, GdtCharset charset);
// The whole 6310 record in `charset`.
QByteArray GdtWriteResult(const GdtResult& result, GdtCharset charset);

}  // namespace velmora
