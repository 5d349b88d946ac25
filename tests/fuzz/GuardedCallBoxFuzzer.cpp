// The guarded-call and assertion boxes with texts of any length: the text shown, answers line
// included, fits the classic 520-byte buffer; it is the composed text whole when that fits, or
// its beginning cut at a character boundary and marked with "..."; every answer does what it
// promises.
#include "FuzzSupport.h"

#include "framework/MessageBox.h"
#include "report/OleCheck.h"

#include <string>

using namespace velmora;

namespace {

constexpr std::size_t kBuffer = 520;
constexpr char kAnswers[] = "\nPress [Y]es to terminate, [N]o to continue and [C]ancel to Debug";

MessageBoxRequest shown;
int shownCount = 0;
int answer = IDNO;
int breaks = 0;

// A text of the input as UTF-8 without NULs (the call sites pass C strings) and without byte
// order marks (which the box's conversion takes off the front of its text).
std::string Utf8(fuzz::Input& in, std::size_t maxUnits) {
    QByteArray bytes = in.Text(maxUnits).remove(QChar(0xFEFF)).toUtf8();
    bytes.replace('\0', "");
    return bytes.toStdString();
}

bool Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// `text` is `full`, or, when that does not fit `capacity` bytes with a terminator, the start of
// `full` cut before a character and followed by "...".
bool FitsAs(const std::string& text, const std::string& full, std::size_t capacity) {
    if (full.size() < capacity) {
        return text == full;
    }
    if (text.size() >= capacity || text.size() < 3 || !text.ends_with("...")) {
        return false;
    }
    const std::size_t cut = text.size() - 3;
    return full.compare(0, cut, text, 0, cut) == 0 && !Continuation(full[cut]) &&
           cut + 3 >= capacity - 4;
}

// The box's text without the answers line, checked for the frame every box has.
std::string BoxText(const char* caption) {
    FUZZ_REQUIRE(shownCount == 1);
    FUZZ_REQUIRE(shown.caption == QLatin1String(caption));
    FUZZ_REQUIRE(shown.flags == (MB_YESNOCANCEL | MB_ICONQUESTION));
    const QByteArray utf8 = shown.text.toUtf8();
    FUZZ_REQUIRE(std::size_t(utf8.size()) < kBuffer);
    FUZZ_REQUIRE(utf8.endsWith(kAnswers));
    return utf8.left(utf8.size() - qsizetype(std::strlen(kAnswers))).toStdString();
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.' ||
                             text.back() == '\x7F')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetMessageBoxPresenter([](const MessageBoxRequest& request) {
        shown = request;
        ++shownCount;
        return answer;
    });
    SetDebugBreakHandler([] { ++breaks; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    static const int kAnswerChoices[] = {IDYES, IDNO, IDCANCEL, IDOK, 0};
    answer = kAnswerChoices[in.Below(5)];
    const bool assertion = in.Bool();
    const auto codeChoice = in.Byte();
    // Known codes with their messages, or any code.
    static const HRESULT kKnown[] = {E_FAIL, E_INVALIDARG, HRESULT_FILE_NOT_FOUND,
                                     RPC_E_DISCONNECTED, WINCODEC_ERR_UNKNOWNIMAGEFORMAT};
    const HRESULT hr = codeChoice < 128 ? kKnown[codeChoice % 5] : in.Take<HRESULT>();
    const int line = in.Take<int>();
    const std::string expression = Utf8(in, 700);
    const std::string file = Utf8(in, 700);
    shownCount = 0;
    breaks = 0;
    const int expectedAnswer = answer == IDYES || answer == IDNO ? answer : int(IDCANCEL);
    const std::size_t capacity = kBuffer - std::strlen(kAnswers);

    if (!assertion) {
        bool thrown = false;
        HRESULT result = 0;
        try {
            result = CheckResult(hr, expression.c_str(), file.c_str(), line);
        } catch (const EOleException& e) {
            thrown = true;
            FUZZ_REQUIRE(e.ErrorCode() == hr);
            FUZZ_REQUIRE(e.Message().toUtf8().toStdString() == Trimmed(BoxText("HRCHECK: ")));
        }
        if (SUCCEEDED(hr)) {
            FUZZ_REQUIRE(result == hr && shownCount == 0 && !thrown);
            return 0;
        }
        FUZZ_REQUIRE(thrown == (expectedAnswer == IDYES));
        FUZZ_REQUIRE(thrown || result == hr);
        FUZZ_REQUIRE(breaks == (expectedAnswer == IDCANCEL ? 1 : 0));
        const std::string text = BoxText("HRCHECK: ");
        FUZZ_REQUIRE(text.size() < capacity);
        FUZZ_REQUIRE(QString::fromUtf8(text).toUtf8().toStdString() == text);  // whole characters
        if (file.size() < kBuffer) {
            const QString message = SystemMessage(hr);
            const std::string place = " @ " + file + "/" + std::to_string(line);
            const std::string full =
                message.isEmpty()
                    ? "(" + expression + ") Error: " +
                          QString::number(std::uint32_t(hr), 16).toUpper().toStdString() + " (" +
                          std::to_string(hr) + ")" + place
                    : "'" + expression + "': " + message.toStdString() + place;
            FUZZ_REQUIRE(FitsAs(text, full, capacity));
        }
        return 0;
    }

    int result = 0;
    bool thrown = false;
    try {
        result = AssertionFailed(expression.c_str(), file.c_str(), line);
    } catch (const EOleException& e) {
        thrown = true;
        FUZZ_REQUIRE(e.ErrorCode() == E_FAIL);
        const std::string message = e.Message().toUtf8().toStdString();
        FUZZ_REQUIRE(message.size() < kBuffer);
        if (file.size() < kBuffer) {
            FUZZ_REQUIRE(FitsAs(
                message, expression + " failed - " + file + "/" + std::to_string(line), kBuffer));
        }
    }
    FUZZ_REQUIRE(thrown == (expectedAnswer == IDYES));
    FUZZ_REQUIRE(thrown || result == expectedAnswer);
    FUZZ_REQUIRE(breaks == 0);  // the place of the check decides on the debugger
    const std::string text = BoxText("_ASSERTE: ");
    if (file.size() < kBuffer) {
        FUZZ_REQUIRE(
            FitsAs(text, expression + " @ " + file + "/" + std::to_string(line), capacity));
    }
    return 0;
}
