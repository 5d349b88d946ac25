#pragma once

// Answers the message boxes of a test and counts the debugger breaks asked for.

#include "framework/MessageBox.h"
#include "report/OleCheck.h"

#include <deque>
#include <vector>

namespace velmora::test {

class BoxRecorder {
public:
    BoxRecorder() {
        previous_ = SetMessageBoxPresenter([this](const MessageBoxRequest& request) {
            shown.push_back(request);
            if (!answers.empty()) {
                const int answer = answers.front();
                answers.pop_front();
                return answer;
            }
            return (request.flags & 0x0F) == MB_YESNOCANCEL ? int(IDNO) : int(IDOK);
        });
        previousBreak_ = SetDebugBreakHandler([this] { ++debugBreaks; });
    }
    ~BoxRecorder() {
        SetMessageBoxPresenter(previous_);
        SetDebugBreakHandler(previousBreak_);
    }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<MessageBoxRequest> shown;
    std::deque<int> answers;  // then No for a question, OK otherwise
    int debugBreaks = 0;

private:
    MessageBoxPresenter previous_;
    DebugBreakHandler previousBreak_;
};

}  // namespace velmora::test
