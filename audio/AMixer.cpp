#include "audio/AMixer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace velmora {

TMixerControls::TMixerControls(TAudioMixer& mixer, const MIXERLINE& line) : block_(line.cControls) {
    MIXERLINECONTROLS request{};
    request.cbStruct = sizeof(MIXERLINECONTROLS);
    request.dwLineID = line.dwLineID;
    request.cControls = line.cControls;
    request.cbmxctrl = sizeof(MIXERCONTROL);
    request.pamxctrl = block_.empty() ? nullptr : block_.data();
    if (mixer.Device().GetLineControls(mixer.Handle(), &request, MIXER_GETLINECONTROLSF_ALL) !=
        MMSYSERR_NOERROR) {
        block_.clear();
    }
}

TMixerConnection::TMixerConnection(TAudioMixer& mixer, const MIXERLINE& line)
    : mixer_(mixer), line_(line), controls_(mixer, line_) {}

TMixerConnections::TMixerConnections(TAudioMixer& mixer, const MIXERLINE& destination)
    : mixer_(mixer) {
    for (std::uint32_t source = 0; source < destination.cConnections; ++source) {
        MIXERLINE line{};
        line.cbStruct = sizeof(MIXERLINE);
        line.dwDestination = destination.dwDestination;
        line.dwSource = source;
        if (mixer_.Device().GetLineInfo(mixer_.Handle(), &line, MIXER_GETLINEINFOF_SOURCE) ==
            MMSYSERR_NOERROR) {
            list_.push_back(std::make_unique<TMixerConnection>(mixer_, line));
        }
    }
}

TMixerDestination::TMixerDestination(TAudioMixer& mixer, const MIXERLINE& line)
    : mixer_(mixer), line_(line) {
    connections_ = std::make_unique<TMixerConnections>(mixer_, line_);
    controls_ = std::make_unique<TMixerControls>(mixer_, line_);
}

TAudioMixer::TAudioMixer(TComponent* owner, MixerDevice& mixer) : TComponent(owner), mixer_(mixer) {
    deviceCount_ = static_cast<int>(mixer_.GetNumDevs());
    mixerId_ = -1;
    if (deviceCount_ > 0) {
        SetMixerId(0);
    } else {
        destinations_ = std::make_unique<TMixerDestinations>();
    }
}

TAudioMixer::~TAudioMixer() {
    CloseMixer();
}

void TAudioMixer::SetMixerId(std::int32_t value) {
    if (value < 0 || value >= deviceCount_) {
        return;
    }
    CloseMixer();
    const auto device = static_cast<std::uint32_t>(value);
    auto window = [this](std::uint32_t message, HMIXER mixer, std::uint32_t id) {
        WindowProc(message, mixer, id);
    };
    // With notifications, twice; then without.
    bool opened = mixer_.Open(&handle_, device, window, 0, CALLBACK_WINDOW) == MMSYSERR_NOERROR ||
                  mixer_.Open(&handle_, device, window, 0, CALLBACK_WINDOW) == MMSYSERR_NOERROR ||
                  mixer_.Open(&handle_, device, {}, 0, 0) == MMSYSERR_NOERROR;
    if (!opened) {
        mixerId_ = -1;
        destinations_ = std::make_unique<TMixerDestinations>();
        return;
    }
    mixerId_ = value;
    caps_ = MIXERCAPS{};
    mixer_.GetDevCaps(device, &caps_, sizeof(MIXERCAPS));
    manufacturer_ = caps_.wMid == 1 ? QStringLiteral("Microsoft")
                                    : QString::number(caps_.wMid) + QStringLiteral(" = Unknown");
    productName_ = QString::fromLocal8Bit(
        caps_.szPname, static_cast<qsizetype>(strnlen(caps_.szPname, MAXPNAMELEN)));
    BuildDestinations();
}

void TAudioMixer::BuildDestinations() {
    destinations_ = std::make_unique<TMixerDestinations>();
    for (std::uint32_t index = 0; index < caps_.cDestinations; ++index) {
        MIXERLINE line{};
        line.cbStruct = sizeof(MIXERLINE);
        line.dwDestination = index;
        if (mixer_.GetLineInfo(handle_, &line, MIXER_GETLINEINFOF_DESTINATION) ==
            MMSYSERR_NOERROR) {
            destinations_->Add(std::make_unique<TMixerDestination>(*this, line));
        }
    }
}

void TAudioMixer::CloseMixer() {
    if (mixerId_ >= 0) {
        mixer_.Close(handle_);
        mixerId_ = -1;
    }
    destinations_.reset();
}

bool TAudioMixer::SetLineVolume(std::int32_t destination, std::int32_t connection,
                                std::int32_t left, std::int32_t right, std::int32_t mute) {
    // A negative index names no line (rather than raising the list's index error).
    if (!destinations_ || destination < 0 || connection < -1) {
        return false;
    }
    const TMixerDestination* target = destinations_->Destination(destination);
    if (!target) {
        return false;
    }
    const TMixerControls* controls = &target->Controls();
    const MIXERLINE* line = &target->Line();
    if (connection != -1) {
        const TMixerConnection* source = target->Connections().Connection(connection);
        if (!source) {
            return false;
        }
        controls = &source->Controls();
        line = &source->Line();
    }
    bool volumeDone = left == -1;
    bool muteDone = mute == -1;

    auto request = [](const MIXERCONTROL& control, std::uint32_t channels, std::uint32_t items,
                      std::vector<std::uint32_t>& values) {
        MIXERCONTROLDETAILS details{};
        details.cbStruct = sizeof(MIXERCONTROLDETAILS);
        details.dwControlID = control.dwControlID;
        details.cChannels = channels;
        details.cMultipleItems = items;
        details.cbDetails = sizeof(std::uint32_t);
        values.assign(std::size_t{channels} * std::max<std::uint32_t>(items, 1), 0);
        details.paDetails = values.data();
        return details;
    };

    for (int i = 0; i < controls->Count() && !(volumeDone && muteDone); ++i) {
        const MIXERCONTROL& control = *controls->Control(i);
        const bool isVolume =
            control.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME && !volumeDone;
        const bool isMute = control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE && !muteDone;
        if ((!isVolume && !isMute) || (control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) != 0) {
            continue;
        }
        const std::uint32_t channels =
            (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) != 0 ? 1 : line->cChannels;
        std::vector<std::uint32_t> values;
        MIXERCONTROLDETAILS details = request(control, channels, 0, values);
        if (isVolume) {
            const auto first = static_cast<std::uint32_t>(left);
            const auto second = static_cast<std::uint32_t>(right == -1 ? left : right);
            // Channels beyond the first two (a surround line) take the larger of the two.
            for (std::size_t c = 0; c < values.size(); ++c) {
                values[c] = c == 0 ? first : c == 1 ? second : std::max(first, second);
            }
            volumeDone = true;
        } else {
            std::fill(values.begin(), values.end(), static_cast<std::uint32_t>(mute));
            muteDone = true;
        }
        mixer_.SetControlDetails(handle_, &details, MIXER_SETCONTROLDETAILSF_VALUE);
    }
    if (muteDone || connection == -1) {
        return true;
    }

    // No mute control on the connection: the mute value selects it in the destination.
    const TMixerControls& destinationControls = target->Controls();
    for (int i = 0; i < destinationControls.Count() && !muteDone; ++i) {
        const MIXERCONTROL& control = *destinationControls.Control(i);
        const bool isMux = control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUX;
        if (!isMux && control.dwControlType != MIXERCONTROL_CONTROLTYPE_MIXER) {
            continue;
        }
        muteDone = true;
        const std::uint32_t channels = (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) != 0
                                           ? 1
                                           : target->Line().cChannels;
        const bool multiple = (control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) != 0;
        const std::uint32_t items = multiple ? control.cMultipleItems : 0;
        std::vector<std::uint32_t> values;
        MIXERCONTROLDETAILS details = request(control, channels, items, values);
        mixer_.GetControlDetails(handle_, &details, MIXER_GETCONTROLDETAILSF_VALUE);
        if (isMux) {
            // One source at a time.
            std::fill(values.begin(), values.begin() + std::min<std::size_t>(items, values.size()),
                      0);
        }

        std::vector<MIXERCONTROLDETAILS_LISTTEXT> texts(std::size_t{channels} *
                                                        std::max<std::uint32_t>(items, 1));
        MIXERCONTROLDETAILS textRequest = details;
        textRequest.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXT);
        textRequest.paDetails = texts.data();
        mixer_.GetControlDetails(handle_, &textRequest, MIXER_GETCONTROLDETAILSF_LISTTEXT);
        for (std::uint32_t index = channels - 1; index < items; index += channels) {
            if (texts[index].dwParam1 == line->dwLineID) {
                values[index] = static_cast<std::uint32_t>(mute);
                mixer_.SetControlDetails(handle_, &details, MIXER_SETCONTROLDETAILSF_VALUE);
                return true;
            }
        }
    }
    return true;
}

std::intptr_t TAudioMixer::WindowProc(std::uint32_t message, std::uint32_t wParam,
                                      std::uint32_t lParam) {
    if (message == MM_MIXM_LINE_CHANGE) {
        if (OnLineChange) {
            OnLineChange(this, wParam, lParam);
        }
    } else if (message == MM_MIXM_CONTROL_CHANGE) {
        if (OnControlChange) {
            OnControlChange(this, wParam, lParam);
        }
    }
    // Nothing else reaches this window; there is no default procedure to hand it to.
    return 0;
}

}  // namespace velmora
