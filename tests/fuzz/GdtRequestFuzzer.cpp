// GDT requests: any bytes give a German refusal naming a line of the file, or a request with a
// patient number; never a crash or a read past the end. The character sets read and write every
// byte back, and a result written for any request's patient is a record of whole lines.
#include "FuzzSupport.h"

#include "gdt/GdtRequest.h"
#include "gdt/GdtResult.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the input's bytes, in a buffer of their own, so that a read past them is caught.
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto read = GdtReadRequest(bytes);

    for (const GdtCharset charset :
         {GdtCharset::German7Bit, GdtCharset::CodePage437, GdtCharset::Ansi}) {
        QByteArray inSet = bytes;
        if (charset == GdtCharset::German7Bit) {
            for (char& c : inSet) {
                c = char(c & 0x7F);
            }
        }
        FUZZ_REQUIRE(GdtEncode(GdtDecode(inSet, charset), charset) == inSet);
    }

    if (const GdtRefusal* refusal = std::get_if<GdtRefusal>(&read)) {
        const qsizetype lines = bytes.count('\n') + 1;
        FUZZ_REQUIRE(refusal->line >= 1 && refusal->line <= lines + 1);
        FUZZ_REQUIRE(!refusal->reason.isEmpty());
        return 0;
    }
    const GdtRequest& request = std::get<GdtRequest>(read);
    FUZZ_REQUIRE(!request.patient.patientNumber.isEmpty());
    FUZZ_REQUIRE(
        request.type == GdtRequestType::MasterData || request.type == GdtRequestType::Examination ||
        request.type == GdtRequestType::Cancel || request.type == GdtRequestType::ShowExamination);
    FUZZ_REQUIRE(!request.fields.empty());

    // The answer to it: the reader takes it for a record of whole lines that is a result.
    GdtResult result;
    result.requestReceiverId = request.receiverId;
    result.requestSenderId = request.senderId;
    result.patientNumber = request.patient.patientNumber;
    result.name = request.patient.name;
    result.firstName = request.patient.firstName;
    result.birthDate = request.patient.birthDate;
    result.thresholds = {{GdtThreshold::Ear::Right, 1000, 45}};
    result.reportPdf = request.patient.street;
    const auto answer = GdtReadRequest(GdtWriteResult(result, request.charset));
    const GdtRefusal* refusal = std::get_if<GdtRefusal>(&answer);
    FUZZ_REQUIRE(refusal != nullptr && refusal->line == 1 &&
                 refusal->reason.contains(QStringLiteral("keine Anforderung")));
    return 0;
}
