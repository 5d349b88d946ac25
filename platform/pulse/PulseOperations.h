#pragma once

// For the backends only (it includes the library's headers).

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <vector>

namespace velmora {

// Requests made without waiting, kept until they are answered; cancelled when their owner goes
// first, so that no callback comes for an owner that is gone. Used with the loop locked.
class PulseOperations {
public:
    PulseOperations() = default;
    ~PulseOperations() { CancelAll(); }
    PulseOperations(const PulseOperations&) = delete;
    PulseOperations& operator=(const PulseOperations&) = delete;

    // Takes `op` over; false when there is none (the request could not be made).
    bool Track(pa_operation* op) {
        if (!op) {
            return false;
        }
        std::erase_if(operations_, [](pa_operation* done) {
            if (pa_operation_get_state(done) == PA_OPERATION_RUNNING) {
                return false;
            }
            pa_operation_unref(done);
            return true;
        });
        operations_.push_back(op);
        return true;
    }

    void CancelAll() {
        for (pa_operation* op : operations_) {
            if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
                pa_operation_cancel(op);
            }
            pa_operation_unref(op);
        }
        operations_.clear();
    }

private:
    std::vector<pa_operation*> operations_;
};

}  // namespace velmora
