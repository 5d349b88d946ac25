#include "platform/mixer/MixerModelDevice.h"

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {

bool IsList(const MIXERCONTROL& control) {
    return (control.dwControlType & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_LIST;
}

bool IsBoolean(const MIXERCONTROL& control) {
    return (control.dwControlType & MIXERCONTROL_CT_UNITS_MASK) == MIXERCONTROL_CT_UNITS_BOOLEAN;
}

bool IsMultiple(const MIXERCONTROL& control) {
    return (control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) != 0;
}

bool IsSingleSelect(const MIXERCONTROL& control) {
    return IsList(control) && (control.dwControlType & MIXERCONTROL_CT_SC_LIST_MULTIPLE) == 0;
}

// The record of one channel of one item in the buffer of a details request.
char* DetailsRecord(const MIXERCONTROLDETAILS& details, std::uint32_t item, std::uint32_t channel) {
    return static_cast<char*>(details.paDetails) +
           (std::size_t{item} * details.cChannels + channel) * details.cbDetails;
}

// Copies a record over the caller's, keeping the caller's size field.
template <typename Record>
void CopyRecord(Record* to, const Record& from) {
    const std::uint32_t size = to->cbStruct;
    *to = from;
    to->cbStruct = size;
}

}  // namespace

void MixerModel::Normalize() {
    caps.cDestinations = static_cast<std::uint32_t>(destinations.size());
    auto normalizeControls = [](Line& line) {
        line.line.cbStruct = sizeof(MIXERLINE);
        line.line.cControls = static_cast<std::uint32_t>(line.controls.size());
        for (Control& control : line.controls) {
            control.control.cbStruct = sizeof(MIXERCONTROL);
        }
    };
    for (std::uint32_t d = 0; d < destinations.size(); ++d) {
        Destination& destination = destinations[d];
        normalizeControls(destination.line);
        destination.line.line.dwDestination = d;
        destination.line.line.dwSource = 0;
        destination.line.line.fdwLine &= ~MIXERLINE_LINEF_SOURCE;
        destination.line.line.cConnections = static_cast<std::uint32_t>(destination.sources.size());
        for (std::uint32_t s = 0; s < destination.sources.size(); ++s) {
            Line& source = destination.sources[s];
            normalizeControls(source);
            source.line.dwDestination = d;
            source.line.dwSource = s;
            source.line.fdwLine |= MIXERLINE_LINEF_SOURCE;
            source.line.cConnections = 0;
        }
    }
}

const MixerModel::Line* MixerModel::FindLine(std::uint32_t lineId) const {
    for (const Destination& destination : destinations) {
        if (destination.line.line.dwLineID == lineId) {
            return &destination.line;
        }
        for (const Line& source : destination.sources) {
            if (source.line.dwLineID == lineId) {
                return &source;
            }
        }
    }
    return nullptr;
}

std::pair<const MixerModel::Line*, const MixerModel::Control*> MixerModel::FindControl(
    std::uint32_t controlId) const {
    auto search = [controlId](const Line& line) -> const Control* {
        for (const Control& control : line.controls) {
            if (control.control.dwControlID == controlId) {
                return &control;
            }
        }
        return nullptr;
    };
    for (const Destination& destination : destinations) {
        if (const Control* control = search(destination.line)) {
            return {&destination.line, control};
        }
        for (const Line& source : destination.sources) {
            if (const Control* control = search(source)) {
                return {&source, control};
            }
        }
    }
    return {nullptr, nullptr};
}

std::uint32_t MixerModelDevice::ControlChannels(const MixerModel::Line& line,
                                                const MixerModel::Control& control) {
    if ((control.control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) != 0) {
        return 1;
    }
    return std::max<std::uint32_t>(line.line.cChannels, 1);
}

std::uint32_t MixerModelDevice::ControlItems(const MixerModel::Control& control) {
    if (IsMultiple(control.control)) {
        return std::max<std::uint32_t>(control.control.cMultipleItems, 1);
    }
    return 1;
}

std::uint32_t MixerModelDevice::GetNumDevs() {
    return DeviceCount();
}

MMRESULT MixerModelDevice::Resolve(std::uint32_t mixer, std::uint32_t flags,
                                   std::uint32_t* deviceId) {
    const std::uint32_t type = flags & MIXER_OBJECTF_TYPEMASK;
    if (type != MIXER_OBJECTF_MIXER && type != MIXER_OBJECTF_HMIXER) {
        return MMSYSERR_INVALFLAG;
    }
    if (auto handle = handles_.find(mixer); handle != handles_.end()) {
        *deviceId = handle->second.deviceId;
        return MMSYSERR_NOERROR;
    }
    if (type == MIXER_OBJECTF_HMIXER) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!DeviceKnown(mixer)) {
        return MMSYSERR_BADDEVICEID;
    }
    *deviceId = mixer;
    return MMSYSERR_NOERROR;
}

MMRESULT MixerModelDevice::ResolveModel(std::uint32_t mixer, std::uint32_t flags,
                                        std::uint32_t* deviceId, const MixerModel** model) {
    if (MMRESULT result = Resolve(mixer, flags, deviceId); result != MMSYSERR_NOERROR) {
        return result;
    }
    *model = Model(*deviceId);
    return *model ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

MMRESULT MixerModelDevice::ResolveDetails(std::uint32_t mixer, const MIXERCONTROLDETAILS& details,
                                          std::uint32_t flags, DetailsTarget* target) {
    const MixerModel* model = nullptr;
    if (MMRESULT result = ResolveModel(mixer, flags, &target->device, &model);
        result != MMSYSERR_NOERROR) {
        return result;
    }
    const auto [line, control] = model->FindControl(details.dwControlID);
    if (!control) {
        return MIXERR_INVALCONTROL;
    }
    // A multiple-item control is asked for all its items, any other for none.
    const std::uint32_t items = ControlItems(*control);
    if (details.cMultipleItems != (IsMultiple(control->control) ? items : 0)) {
        return MMSYSERR_INVALPARAM;
    }
    target->line = line;
    target->control = control;
    target->items = items;
    return MMSYSERR_NOERROR;
}

MMRESULT MixerModelDevice::Open(HMIXER* mixer, std::uint32_t deviceId, MixerCallback callback,
                                std::uint32_t, std::uint32_t flags) {
    if (!mixer) {
        return MMSYSERR_INVALPARAM;
    }
    if ((flags & ~(CALLBACK_WINDOW | MIXER_OBJECTF_TYPEMASK)) != 0) {
        return MMSYSERR_INVALFLAG;
    }
    const bool withCallback = (flags & CALLBACK_WINDOW) != 0;
    if (withCallback && !callback) {
        return MMSYSERR_INVALPARAM;
    }
    std::uint32_t device = 0;
    if (MMRESULT result = Resolve(deviceId, flags & MIXER_OBJECTF_TYPEMASK, &device);
        result != MMSYSERR_NOERROR) {
        return result;
    }
    const HMIXER handle = nextHandle_++;
    handles_[handle] = Handle{device, withCallback ? std::move(callback) : MixerCallback{}};
    *mixer = handle;
    return MMSYSERR_NOERROR;
}

MMRESULT MixerModelDevice::Close(HMIXER mixer) {
    return handles_.erase(mixer) != 0 ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT MixerModelDevice::GetDevCaps(std::uint32_t mixer, MIXERCAPS* caps,
                                      std::uint32_t capsSize) {
    if (!caps || capsSize == 0) {
        return MMSYSERR_INVALPARAM;
    }
    std::uint32_t device = 0;
    const MixerModel* model = nullptr;
    if (MMRESULT result = ResolveModel(mixer, 0, &device, &model); result != MMSYSERR_NOERROR) {
        return result;
    }
    std::memcpy(caps, &model->caps, std::min<std::size_t>(capsSize, sizeof(MIXERCAPS)));
    return MMSYSERR_NOERROR;
}

MMRESULT MixerModelDevice::GetLineInfo(std::uint32_t mixer, MIXERLINE* line, std::uint32_t flags) {
    if (!line || line->cbStruct < sizeof(MIXERLINE)) {
        return MMSYSERR_INVALPARAM;
    }
    std::uint32_t device = 0;
    const MixerModel* model = nullptr;
    if (MMRESULT result = ResolveModel(mixer, flags, &device, &model); result != MMSYSERR_NOERROR) {
        return result;
    }
    const auto& destinations = model->destinations;
    switch (flags & MIXER_GETLINEINFOF_QUERYMASK) {
        case MIXER_GETLINEINFOF_DESTINATION:
            if (line->dwDestination >= destinations.size()) {
                return MMSYSERR_INVALPARAM;
            }
            CopyRecord(line, destinations[line->dwDestination].line.line);
            return MMSYSERR_NOERROR;
        case MIXER_GETLINEINFOF_SOURCE: {
            if (line->dwDestination >= destinations.size()) {
                return MMSYSERR_INVALPARAM;
            }
            const auto& sources = destinations[line->dwDestination].sources;
            if (line->dwSource >= sources.size()) {
                return MMSYSERR_INVALPARAM;
            }
            CopyRecord(line, sources[line->dwSource].line);
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINEINFOF_LINEID:
            if (const MixerModel::Line* found = model->FindLine(line->dwLineID)) {
                CopyRecord(line, found->line);
                return MMSYSERR_NOERROR;
            }
            return MIXERR_INVALLINE;
        case MIXER_GETLINEINFOF_COMPONENTTYPE:
        case MIXER_GETLINEINFOF_TARGETTYPE: {
            const bool byType =
                (flags & MIXER_GETLINEINFOF_QUERYMASK) == MIXER_GETLINEINFOF_COMPONENTTYPE;
            auto matches = [&](const MixerModel::Line& candidate) {
                return byType ? candidate.line.dwComponentType == line->dwComponentType
                              : candidate.line.Target.dwType == line->Target.dwType;
            };
            // Destinations first, in their order, then the sources.
            for (const auto& destination : destinations) {
                if (matches(destination.line)) {
                    CopyRecord(line, destination.line.line);
                    return MMSYSERR_NOERROR;
                }
            }
            for (const auto& destination : destinations) {
                for (const auto& source : destination.sources) {
                    if (matches(source)) {
                        CopyRecord(line, source.line);
                        return MMSYSERR_NOERROR;
                    }
                }
            }
            return MIXERR_INVALLINE;
        }
        default:
            return MMSYSERR_INVALFLAG;
    }
}

MMRESULT MixerModelDevice::GetLineControls(std::uint32_t mixer, MIXERLINECONTROLS* controls,
                                           std::uint32_t flags) {
    if (!controls || controls->cbStruct < sizeof(MIXERLINECONTROLS) ||
        controls->cbmxctrl < sizeof(MIXERCONTROL) || !controls->pamxctrl) {
        return MMSYSERR_INVALPARAM;
    }
    std::uint32_t device = 0;
    const MixerModel* model = nullptr;
    if (MMRESULT result = ResolveModel(mixer, flags, &device, &model); result != MMSYSERR_NOERROR) {
        return result;
    }
    auto put = [&](std::uint32_t index, const MIXERCONTROL& control) {
        auto* to = reinterpret_cast<MIXERCONTROL*>(reinterpret_cast<char*>(controls->pamxctrl) +
                                                   std::size_t{index} * controls->cbmxctrl);
        *to = control;
    };
    switch (flags & MIXER_GETLINECONTROLSF_QUERYMASK) {
        case MIXER_GETLINECONTROLSF_ALL: {
            const MixerModel::Line* line = model->FindLine(controls->dwLineID);
            if (!line) {
                return MIXERR_INVALLINE;
            }
            // All of them, into exactly as many records.
            if (controls->cControls == 0 || controls->cControls != line->controls.size()) {
                return MMSYSERR_INVALPARAM;
            }
            for (std::uint32_t i = 0; i < line->controls.size(); ++i) {
                put(i, line->controls[i].control);
            }
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINECONTROLSF_ONEBYID: {
            const auto [line, control] = model->FindControl(controls->dwControlID);
            if (!control) {
                return MIXERR_INVALCONTROL;
            }
            controls->dwLineID = line->line.dwLineID;
            put(0, control->control);
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINECONTROLSF_ONEBYTYPE: {
            const MixerModel::Line* line = model->FindLine(controls->dwLineID);
            if (!line) {
                return MIXERR_INVALLINE;
            }
            for (const auto& control : line->controls) {
                if (control.control.dwControlType == controls->dwControlType) {
                    put(0, control.control);
                    return MMSYSERR_NOERROR;
                }
            }
            return MIXERR_INVALCONTROL;
        }
        default:
            return MMSYSERR_INVALFLAG;
    }
}

MMRESULT MixerModelDevice::GetControlDetails(std::uint32_t mixer, MIXERCONTROLDETAILS* details,
                                             std::uint32_t flags) {
    if (!details || details->cbStruct < sizeof(MIXERCONTROLDETAILS) || !details->paDetails ||
        details->cChannels == 0) {
        return MMSYSERR_INVALPARAM;
    }
    DetailsTarget target;
    if (MMRESULT result = ResolveDetails(mixer, *details, flags, &target);
        result != MMSYSERR_NOERROR) {
        return result;
    }
    const auto [device, line, control, items] = target;
    const std::uint32_t asked = details->cChannels;

    switch (flags & MIXER_GETCONTROLDETAILSF_QUERYMASK) {
        case MIXER_GETCONTROLDETAILSF_LISTTEXT: {
            if (!IsMultiple(control->control) ||
                details->cbDetails < sizeof(MIXERCONTROLDETAILS_LISTTEXT)) {
                return MMSYSERR_INVALPARAM;
            }
            for (std::uint32_t item = 0; item < items; ++item) {
                const MIXERCONTROLDETAILS_LISTTEXT text = item < control->listTexts.size()
                                                              ? control->listTexts[item]
                                                              : MIXERCONTROLDETAILS_LISTTEXT{};
                for (std::uint32_t c = 0; c < asked; ++c) {
                    *reinterpret_cast<MIXERCONTROLDETAILS_LISTTEXT*>(
                        DetailsRecord(*details, item, c)) = text;
                }
            }
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETCONTROLDETAILSF_VALUE: {
            if (details->cbDetails < sizeof(std::uint32_t)) {
                return MMSYSERR_INVALPARAM;
            }
            const std::uint32_t channels = ControlChannels(*line, *control);
            std::vector<std::uint32_t> values(std::size_t{items} * channels);
            if (MMRESULT result = ReadValues(device, *line, *control, values);
                result != MMSYSERR_NOERROR) {
                return result;
            }
            for (std::uint32_t item = 0; item < items; ++item) {
                const auto first = values.begin() + std::size_t{item} * channels;
                for (std::uint32_t c = 0; c < asked; ++c) {
                    const std::uint32_t value = asked == 1
                                                    ? *std::max_element(first, first + channels)
                                                    : first[std::min(c, channels - 1)];
                    std::memcpy(DetailsRecord(*details, item, c), &value, sizeof value);
                }
            }
            return MMSYSERR_NOERROR;
        }
        default:
            return MMSYSERR_INVALFLAG;
    }
}

MMRESULT MixerModelDevice::SetControlDetails(std::uint32_t mixer,
                                             const MIXERCONTROLDETAILS* details,
                                             std::uint32_t flags) {
    if (!details || details->cbStruct < sizeof(MIXERCONTROLDETAILS) || !details->paDetails ||
        details->cChannels == 0 || details->cbDetails < sizeof(std::uint32_t)) {
        return MMSYSERR_INVALPARAM;
    }
    if ((flags & MIXER_SETCONTROLDETAILSF_QUERYMASK) != MIXER_SETCONTROLDETAILSF_VALUE) {
        return MMSYSERR_INVALFLAG;
    }
    DetailsTarget target;
    if (MMRESULT result = ResolveDetails(mixer, *details, flags, &target);
        result != MMSYSERR_NOERROR) {
        return result;
    }
    const auto [device, line, control, items] = target;
    const std::uint32_t asked = details->cChannels;
    const std::uint32_t channels = ControlChannels(*line, *control);
    auto given = [&](std::uint32_t item, std::uint32_t c) {
        std::uint32_t value;
        std::memcpy(&value, DetailsRecord(*details, item, c), sizeof value);
        return value;
    };
    std::vector<std::uint32_t> values(std::size_t{items} * channels);
    for (std::uint32_t item = 0; item < items; ++item) {
        std::uint32_t largest = 0;
        for (std::uint32_t c = 0; c < asked; ++c) {
            largest = std::max(largest, given(item, c));
        }
        for (std::uint32_t c = 0; c < channels; ++c) {
            std::uint32_t value;
            if (asked == 1 || c >= asked) {
                value = largest;
            } else if (c == channels - 1 && asked > channels) {
                value = 0;
                for (std::uint32_t extra = c; extra < asked; ++extra) {
                    value = std::max(value, given(item, extra));
                }
            } else {
                value = given(item, c);
            }
            if (IsBoolean(control->control)) {
                value = value != 0 ? 1 : 0;
            } else {
                value = std::clamp(value, control->control.Bounds.dwMinimum,
                                   control->control.Bounds.dwMaximum);
            }
            values[std::size_t{item} * channels + c] = value;
        }
    }
    if (IsSingleSelect(control->control)) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            std::uint32_t selected = 0;
            for (std::uint32_t item = 0; item < items; ++item) {
                selected += values[std::size_t{item} * channels + c];
            }
            if (selected != 1) {
                return MIXERR_INVALVALUE;
            }
        }
    }
    return WriteValues(device, *line, *control, values);
}

void MixerModelDevice::Notify(std::uint32_t deviceId, std::uint32_t message, std::uint32_t id) {
    // A callback may close its handle or open another: work on a copy.
    std::vector<std::pair<HMIXER, MixerCallback>> targets;
    for (const auto& [handle, entry] : handles_) {
        if (entry.deviceId == deviceId && entry.callback) {
            targets.emplace_back(handle, entry.callback);
        }
    }
    for (const auto& [handle, callback] : targets) {
        if (handles_.contains(handle)) {
            callback(message, handle, id);
        }
    }
}

}  // namespace velmora
