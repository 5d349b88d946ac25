#pragma once

// What the automation layer tells the operator when a call fails: the guarded-call box
// (HRCHECK), the assertion box (_ASSERTE) and the errors that their Yes answer raises.

#include "report/OleTypes.h"

#include <QByteArray>
#include <QString>

#include <exception>
#include <functional>

namespace velmora {

// An automation error with its result code. what() is the message in UTF-8.
class EOleSysError : public std::exception {
public:
    EOleSysError(const QString& message, HRESULT errorCode, int helpContext = 0);
    const char* what() const noexcept override { return what_.constData(); }
    const QString& Message() const { return message_; }
    HRESULT ErrorCode() const { return errorCode_; }
    int HelpContext() const { return helpContext_; }

private:
    QString message_;
    QByteArray what_;
    HRESULT errorCode_;
    int helpContext_;
};

// An error reported from inside an automation call, with the place it came from.
class EOleException : public EOleSysError {
public:
    EOleException(const QString& message, HRESULT errorCode, const QString& source,
                  const QString& helpFile, int helpContext);
    const QString& Source() const { return source_; }
    const QString& HelpFile() const { return helpFile_; }

private:
    QString source_;
    QString helpFile_;
};

// The word processor went away (ended by its user, crashed) while a call was guarded by a
// ServerGoneEndsCalls: raised instead of the guarded-call box.
class EServerGone : public EOleSysError {
public:
    EServerGone();
};

// While one lives, a guarded call whose word processor has gone (RPC_E_DISCONNECTED) raises
// EServerGone rather than asking, once per call, about something that cannot come back: a run
// of many calls ends at the first. Nests; holds for the calls of the thread it lives on.
class ServerGoneEndsCalls {
public:
    ServerGoneEndsCalls();
    ~ServerGoneEndsCalls();
    ServerGoneEndsCalls(const ServerGoneEndsCalls&) = delete;
    ServerGoneEndsCalls& operator=(const ServerGoneEndsCalls&) = delete;
};

// The system's message for a result code, from the table of the codes this program can meet
// (German, ending in a line break as the system's messages do); empty for any other code.
QString SystemMessage(HRESULT hr);

// Reports the result of a guarded call. A success comes back unchanged. A failure shows the
// guarded-call box ("HRCHECK: ", question icon, Yes/No/Cancel) with the expression, the system
// message (or the code in hexadecimal and decimal), the file and the line: Yes raises
// EOleException, No returns the code, Cancel asks for the debugger and returns the code.
//
// Box texts are held to the classic 520-byte buffers: a text that would not fit is shortened at
// a character boundary and marked with "...", and the line with the answers always fits whole.
HRESULT CheckResult(HRESULT hr, const char* expression, const char* file, int line);

// Shows the assertion box ("_ASSERTE: ") for a condition that failed. Yes raises EOleException
// ("<condition> failed - <file>/<line>", E_FAIL); No and Cancel return the answer (IDNO,
// IDCANCEL) to the place of the check, which decides whether Cancel asks for the debugger.
int AssertionFailed(const char* condition, const char* file, int line);

// Asks for a break into the debugger: a trap while a debugger is attached, nothing otherwise
// (the program must go on). Tests install their own handler.
void DebugBreak();
using DebugBreakHandler = std::function<void()>;
// Installs a handler and returns the previous one; an empty handler restores the default.
DebugBreakHandler SetDebugBreakHandler(DebugBreakHandler handler);

}  // namespace velmora

// A guarded call: `hr` is the call's result, `expression` the text that names it. The source
// file that uses it defines `kCheckFile`, the file name that the boxes show.
#define HRCHECK(hr, expression) ::velmora::CheckResult((hr), (expression), kCheckFile, __LINE__)

// A precondition of a wrapper: 0 when it holds, else the answer of the assertion box.
#define _ASSERTE(condition) \
    ((condition) ? 0 : ::velmora::AssertionFailed(#condition, kCheckFile, __LINE__))
