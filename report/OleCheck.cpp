#include "OleCheck.h"

#include "framework/MessageBox.h"

#include <QFile>

#include <csignal>
#include <cstring>
#include <string>

namespace velmora {
namespace {

// The classic boxes composed their texts in buffers of this size, terminator included.
constexpr std::size_t kBufferSize = 520;
constexpr char kAnswers[] = "\nPress [Y]es to terminate, [N]o to continue and [C]ancel to Debug";

struct CodeMessage {
    HRESULT code;
    const char* text;
};

// The codes that the automation layer and its document servers can return.
const CodeMessage kMessages[] = {
    {E_NOTIMPL, "Nicht implementiert"},
    {E_NOINTERFACE, "Schnittstelle nicht unterstützt"},
    {E_POINTER, "Ungültiger Zeiger"},
    {E_ABORT, "Vorgang abgebrochen"},
    {E_FAIL, "Unbekannter Fehler"},
    {E_UNEXPECTED, "Schwerwiegender Fehler"},
    {E_ACCESSDENIED, "Zugriff verweigert"},
    {E_OUTOFMEMORY, "Nicht genügend Speicher für diesen Vorgang verfügbar."},
    {E_INVALIDARG, "Falscher Parameter."},
    {HRESULT_FILE_NOT_FOUND, "Die angegebene Datei wurde nicht gefunden."},
    {HRESULT_PATH_NOT_FOUND, "Der angegebene Pfad wurde nicht gefunden."},
    {HRESULT_DISK_FULL, "Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden."},
    {RPC_E_CALL_REJECTED, "Der Aufruf wurde vom Empfänger abgelehnt."},
    {RPC_E_DISCONNECTED, "Das aufgerufene Objekt wurde von den Clients getrennt."},
    {RPC_S_SERVER_UNAVAILABLE, "Der RPC-Server ist nicht verfügbar."},
    {DISP_E_PARAMNOTFOUND, "Parameter nicht gefunden."},
    {DISP_E_EXCEPTION, "Ausnahmefehler."},
    {STG_E_FILENOTFOUND, "Die Datei wurde nicht gefunden."},
    {STG_E_ACCESSDENIED, "Zugriff verweigert."},
    {STG_E_WRITEFAULT, "Beim Schreiben ist ein Fehler aufgetreten."},
    {STG_E_MEDIUMFULL, "Der Datenträger ist voll."},
    {REGDB_E_CLASSNOTREG, "Klasse nicht registriert"},
    {CONNECT_E_NOCONNECTION, "Keine Verbindung für diesen Verbindungspunkt"},
    {CONNECT_E_CANNOTCONNECT, "Verbindung mit diesem Verbindungspunkt nicht möglich"},
    {MK_E_UNAVAILABLE, "Vorgang nicht verfügbar"},
    {CO_E_SERVER_EXEC_FAILURE, "Fehler bei der Ausführung des Servers"},
    {WINCODEC_ERR_UNKNOWNIMAGEFORMAT, "Das Bildformat ist unbekannt."},
};

// Shortens `text` to fit a buffer of `capacity` bytes with its terminator: cut at a character
// boundary and marked with "...".
std::string Fit(std::string text, std::size_t capacity) {
    if (text.size() < capacity) {
        return text;
    }
    std::size_t keep = capacity - 1 - 3;
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    text.resize(keep);
    return text + "...";
}

std::string Text(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

// Shows a box with the answers line appended; returns IDYES, IDNO or IDCANCEL.
int AskAnswers(const std::string& boxText, const char* caption) {
    const std::string full = boxText + kAnswers;
    const int answer = MessageBox(QString::fromUtf8(full.data(), qsizetype(full.size())),
                                  QString::fromLatin1(caption), MB_YESNOCANCEL | MB_ICONQUESTION);
    return answer == IDYES || answer == IDNO ? answer : int(IDCANCEL);
}

// The message of the error that Yes raises: no trailing blanks, control characters or stops.
QString ExceptionMessage(const std::string& boxText) {
    std::size_t end = boxText.size();
    while (end > 0 && (static_cast<unsigned char>(boxText[end - 1]) <= ' ' ||
                       boxText[end - 1] == '.' || boxText[end - 1] == '\x7F')) {
        --end;
    }
    return QString::fromUtf8(boxText.data(), qsizetype(end));
}

bool DebuggerAttached() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("TracerPid:")) {
            return line.mid(10).trimmed().toLongLong() != 0;
        }
    }
    return false;
}

void DefaultDebugBreak() {
    if (DebuggerAttached()) {
        std::raise(SIGTRAP);
    }
}

DebugBreakHandler& CurrentDebugBreak() {
    static DebugBreakHandler handler = DefaultDebugBreak;
    return handler;
}

}  // namespace

EOleSysError::EOleSysError(const QString& message, HRESULT errorCode, int helpContext)
    : message_(message),
      what_(message.toUtf8()),
      errorCode_(errorCode),
      helpContext_(helpContext) {}

EOleException::EOleException(const QString& message, HRESULT errorCode, const QString& source,
                             const QString& helpFile, int helpContext)
    : EOleSysError(message, errorCode, helpContext), source_(source), helpFile_(helpFile) {}

QString SystemMessage(HRESULT hr) {
    for (const CodeMessage& entry : kMessages) {
        if (entry.code == hr) {
            return QString::fromUtf8(entry.text) + QStringLiteral("\r\n");
        }
    }
    return {};
}

namespace {
// Per thread: a run on the report's thread never changes how calls on another thread are checked.
thread_local int serverGoneEndsCalls = 0;
}  // namespace

EServerGone::EServerGone()
    : EOleSysError(QStringLiteral("Die Verbindung zum Textprogramm ist verloren."),
                   RPC_E_DISCONNECTED) {}

ServerGoneEndsCalls::ServerGoneEndsCalls() {
    ++serverGoneEndsCalls;
}

ServerGoneEndsCalls::~ServerGoneEndsCalls() {
    --serverGoneEndsCalls;
}

HRESULT CheckResult(HRESULT hr, const char* expression, const char* file, int line) {
    if (SUCCEEDED(hr)) {
        return hr;
    }
    if (hr == RPC_E_DISCONNECTED && serverGoneEndsCalls > 0) {
        throw EServerGone();
    }
    const std::string fileText = Fit(Text(file), kBufferSize);
    const QString message = SystemMessage(hr);
    std::string box;
    if (!message.isEmpty()) {
        box = "'" + Text(expression) + "': " + message.toStdString() + " @ " + fileText + "/" +
              std::to_string(line);
    } else {
        box = "(" + Text(expression) + ") Error: " +
              QString::number(static_cast<std::uint32_t>(hr), 16).toUpper().toStdString() + " (" +
              std::to_string(hr) + ") @ " + fileText + "/" + std::to_string(line);
    }
    box = Fit(box, kBufferSize - std::strlen(kAnswers));

    switch (AskAnswers(box, "HRCHECK: ")) {
        case IDYES:
            throw EOleException(ExceptionMessage(box), hr, QString::fromStdString(fileText),
                                QString(), 0);
        case IDNO:
            return hr;
        default:
            DebugBreak();
            return hr;
    }
}

int AssertionFailed(const char* condition, const char* file, int line) {
    const std::string place = Fit(Text(file), kBufferSize) + "/" + std::to_string(line);
    const std::string box =
        Fit(Text(condition) + " @ " + place, kBufferSize - std::strlen(kAnswers));
    const int answer = AskAnswers(box, "_ASSERTE: ");
    if (answer == IDYES) {
        const std::string message = Fit(Text(condition) + " failed - " + place, kBufferSize);
        throw EOleException(QString::fromStdString(message), E_FAIL, QString::fromUtf8(file),
                            QString(), 0);
    }
    return answer;
}

void DebugBreak() {
    CurrentDebugBreak()();
}

DebugBreakHandler SetDebugBreakHandler(DebugBreakHandler handler) {
    DebugBreakHandler previous = CurrentDebugBreak();
    CurrentDebugBreak() = handler ? std::move(handler) : DebugBreakHandler(DefaultDebugBreak);
    return previous;
}

}  // namespace velmora
