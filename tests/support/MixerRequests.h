#pragma once

// The records of the common mixer requests, filled as a component would fill them.

#include "platform/mixer/MixerDevice.h"

#include <cstdint>

namespace velmora::test {

// A request for the first control of `type` on a line, written into `control`.
inline MIXERLINECONTROLS ControlByTypeRequest(std::uint32_t lineId, std::uint32_t type,
                                              MIXERCONTROL* control) {
    MIXERLINECONTROLS request{};
    request.cbStruct = sizeof request;
    request.dwLineID = lineId;
    request.dwControlType = type;
    request.cControls = 1;
    request.cbmxctrl = sizeof(MIXERCONTROL);
    request.pamxctrl = control;
    return request;
}

// A value request of a control in four-byte records at `values`: `channels` for each of `items`
// items (0 for a control that is not a multiple-item control).
inline MIXERCONTROLDETAILS ValueRequest(std::uint32_t controlId, std::uint32_t channels,
                                        std::uint32_t items, std::uint32_t* values) {
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = controlId;
    details.cChannels = channels;
    details.cMultipleItems = items;
    details.cbDetails = sizeof(std::uint32_t);
    details.paDetails = values;
    return details;
}

}  // namespace velmora::test
