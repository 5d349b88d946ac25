#include "platform/mixer/SimulatedMixerDevice.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velmora {

namespace {

// The first four bytes of every record of a details request, as a number.
std::vector<std::uint32_t> FirstWords(const MIXERCONTROLDETAILS& details) {
    const std::size_t count =
        std::size_t{details.cChannels} * std::max<std::uint32_t>(details.cMultipleItems, 1);
    std::vector<std::uint32_t> words(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(&words[i], static_cast<const char*>(details.paDetails) + i * details.cbDetails,
                    sizeof(std::uint32_t));
    }
    return words;
}

}  // namespace

std::uint32_t SimulatedMixerDevice::AddDevice(const char* productName, std::uint16_t manufacturer,
                                              std::uint16_t product, std::uint32_t driverVersion) {
    Device device;
    device.model.caps.wMid = manufacturer;
    device.model.caps.wPid = product;
    device.model.caps.vDriverVersion = driverVersion;
    CopyName(device.model.caps.szPname, productName);
    devices_.push_back(std::move(device));
    return static_cast<std::uint32_t>(devices_.size() - 1);
}

std::uint32_t SimulatedMixerDevice::AddDestination(std::uint32_t device,
                                                   std::uint32_t componentType, const char* name,
                                                   std::uint32_t channels) {
    MixerModel::Destination destination;
    MIXERLINE& line = destination.line.line;
    line.dwLineID = nextLineId_++;
    line.dwComponentType = componentType;
    line.cChannels = channels;
    line.fdwLine = MIXERLINE_LINEF_ACTIVE;
    CopyName(line.szShortName, name);
    CopyName(line.szName, name);
    line.Target.dwType = componentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN
                             ? MIXERLINE_TARGETTYPE_WAVEIN
                             : MIXERLINE_TARGETTYPE_WAVEOUT;
    devices_.at(device).model.destinations.push_back(destination);
    return line.dwLineID;
}

std::uint32_t SimulatedMixerDevice::AddSource(std::uint32_t device, std::uint32_t destination,
                                              std::uint32_t componentType, const char* name,
                                              std::uint32_t channels) {
    MixerModel::Line source;
    source.line.dwLineID = nextLineId_++;
    source.line.dwComponentType = componentType;
    source.line.cChannels = channels;
    source.line.fdwLine = MIXERLINE_LINEF_ACTIVE;
    CopyName(source.line.szShortName, name);
    CopyName(source.line.szName, name);
    devices_.at(device).model.destinations.at(destination).sources.push_back(source);
    return source.line.dwLineID;
}

std::uint32_t SimulatedMixerDevice::AddControl(std::uint32_t device, std::uint32_t lineId,
                                               std::uint32_t controlType, std::uint32_t flags,
                                               std::uint32_t items) {
    MixerModel::Line* line = FindLine(device, lineId);
    if (!line) {
        return 0;
    }
    MixerModel::Control control;
    control.control.dwControlID = nextControlId_++;
    control.control.dwControlType = controlType;
    control.control.fdwControl = flags;
    const bool boolean =
        (controlType & MIXERCONTROL_CT_UNITS_MASK) == MIXERCONTROL_CT_UNITS_BOOLEAN;
    control.control.Bounds.dwMaximum = boolean ? 1 : 65535;
    control.control.Metrics.cSteps = boolean ? 0 : 65536;
    if (items > 0) {
        control.control.fdwControl |= MIXERCONTROL_CONTROLF_MULTIPLE;
        control.control.cMultipleItems = items;
        control.listTexts.resize(items);
    }
    const char* name = controlType == MIXERCONTROL_CONTROLTYPE_VOLUME ? "Volume"
                       : controlType == MIXERCONTROL_CONTROLTYPE_MUTE ? "Mute"
                                                                      : "Control";
    CopyName(control.control.szShortName, name);
    CopyName(control.control.szName, name);
    line->controls.push_back(control);
    const std::uint32_t id = control.control.dwControlID;
    devices_.at(device).values[id].assign(
        std::size_t{ControlItems(control)} * ControlChannels(*line, control), 0);
    return id;
}

void SimulatedMixerDevice::SetListText(std::uint32_t device, std::uint32_t controlId,
                                       std::uint32_t item, std::uint32_t lineId, const char* name) {
    MixerModel::Control* control = FindControl(device, controlId);
    if (!control || item >= control->listTexts.size()) {
        return;
    }
    MIXERCONTROLDETAILS_LISTTEXT& text = control->listTexts[item];
    text.dwParam1 = lineId;
    const MixerModel::Line* line = FindLine(device, lineId);
    text.dwParam2 = line ? line->line.dwComponentType : 0;
    CopyName(text.szName, name);
}

std::vector<std::uint32_t> SimulatedMixerDevice::Values(std::uint32_t device,
                                                        std::uint32_t controlId) const {
    const auto& values = devices_.at(device).values;
    auto found = values.find(controlId);
    return found != values.end() ? found->second : std::vector<std::uint32_t>{};
}

void SimulatedMixerDevice::SetValues(std::uint32_t device, std::uint32_t controlId,
                                     std::vector<std::uint32_t> values) {
    devices_.at(device).values[controlId] = std::move(values);
}

void SimulatedMixerDevice::FailNext(CallKind kind, MMRESULT result, int times) {
    failures_[kind] = {result, times};
}

void SimulatedMixerDevice::SendLineChange(std::uint32_t device, std::uint32_t lineId) {
    Notify(device, MM_MIXM_LINE_CHANGE, lineId);
}

void SimulatedMixerDevice::SendControlChange(std::uint32_t device, std::uint32_t controlId) {
    Notify(device, MM_MIXM_CONTROL_CHANGE, controlId);
}

std::vector<SimulatedMixerDevice::Call> SimulatedMixerDevice::CallsOf(CallKind kind) const {
    std::vector<Call> result;
    for (const Call& call : calls_) {
        if (call.kind == kind) {
            result.push_back(call);
        }
    }
    return result;
}

MixerModel::Line* SimulatedMixerDevice::FindLine(std::uint32_t device, std::uint32_t lineId) {
    return const_cast<MixerModel::Line*>(devices_.at(device).model.FindLine(lineId));
}

MixerModel::Control* SimulatedMixerDevice::FindControl(std::uint32_t device,
                                                       std::uint32_t controlId) {
    return const_cast<MixerModel::Control*>(
        devices_.at(device).model.FindControl(controlId).second);
}

template <typename Forward>
MMRESULT SimulatedMixerDevice::Logged(Call& call, Forward forward) {
    if (!Failing(call.kind, call)) {
        call.result = forward();
    }
    calls_.push_back(call);
    return call.result;
}

bool SimulatedMixerDevice::Failing(CallKind kind, Call& call) {
    auto found = failures_.find(kind);
    if (found == failures_.end() || found->second.second <= 0) {
        return false;
    }
    call.result = found->second.first;
    --found->second.second;
    return true;
}

const MixerModel* SimulatedMixerDevice::Model(std::uint32_t deviceId) {
    if (deviceId >= devices_.size()) {
        return nullptr;
    }
    devices_[deviceId].model.Normalize();
    return &devices_[deviceId].model;
}

MMRESULT SimulatedMixerDevice::ReadValues(std::uint32_t deviceId, const MixerModel::Line&,
                                          const MixerModel::Control& control,
                                          std::span<std::uint32_t> values) {
    const std::vector<std::uint32_t>& stored =
        devices_.at(deviceId).values[control.control.dwControlID];
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = i < stored.size() ? stored[i] : 0;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedMixerDevice::WriteValues(std::uint32_t deviceId, const MixerModel::Line&,
                                           const MixerModel::Control& control,
                                           std::span<const std::uint32_t> values) {
    devices_.at(deviceId).values[control.control.dwControlID].assign(values.begin(), values.end());
    return MMSYSERR_NOERROR;
}

std::uint32_t SimulatedMixerDevice::GetNumDevs() {
    Call call{CallKind::GetNumDevs};
    call.result = MixerModelDevice::GetNumDevs();
    calls_.push_back(call);
    return call.result;
}

MMRESULT SimulatedMixerDevice::Open(HMIXER* mixer, std::uint32_t deviceId, MixerCallback callback,
                                    std::uint32_t instance, std::uint32_t flags) {
    Call call{CallKind::Open, deviceId, flags};
    call.callback = static_cast<bool>(callback);
    return Logged(call, [&] {
        return MixerModelDevice::Open(mixer, deviceId, std::move(callback), instance, flags);
    });
}

MMRESULT SimulatedMixerDevice::Close(HMIXER mixer) {
    Call call{CallKind::Close, mixer};
    return Logged(call, [&] { return MixerModelDevice::Close(mixer); });
}

MMRESULT SimulatedMixerDevice::GetDevCaps(std::uint32_t mixer, MIXERCAPS* caps,
                                          std::uint32_t capsSize) {
    Call call{CallKind::GetDevCaps, mixer};
    return Logged(call, [&] { return MixerModelDevice::GetDevCaps(mixer, caps, capsSize); });
}

MMRESULT SimulatedMixerDevice::GetLineInfo(std::uint32_t mixer, MIXERLINE* line,
                                           std::uint32_t flags) {
    Call call{CallKind::GetLineInfo, mixer, flags};
    if (line) {
        call.line = *line;
    }
    return Logged(call, [&] { return MixerModelDevice::GetLineInfo(mixer, line, flags); });
}

MMRESULT SimulatedMixerDevice::GetLineControls(std::uint32_t mixer, MIXERLINECONTROLS* controls,
                                               std::uint32_t flags) {
    Call call{CallKind::GetLineControls, mixer, flags};
    if (controls) {
        call.controls = *controls;
    }
    return Logged(call, [&] { return MixerModelDevice::GetLineControls(mixer, controls, flags); });
}

MMRESULT SimulatedMixerDevice::GetControlDetails(std::uint32_t mixer, MIXERCONTROLDETAILS* details,
                                                 std::uint32_t flags) {
    Call call{CallKind::GetControlDetails, mixer, flags};
    if (details) {
        call.details = *details;
    }
    return Logged(call, [&] {
        const MMRESULT result = MixerModelDevice::GetControlDetails(mixer, details, flags);
        if (result == MMSYSERR_NOERROR) {
            const bool texts =
                (flags & MIXER_GETCONTROLDETAILSF_QUERYMASK) == MIXER_GETCONTROLDETAILSF_LISTTEXT;
            (texts ? call.listLines : call.values) = FirstWords(*details);
        }
        return result;
    });
}

MMRESULT SimulatedMixerDevice::SetControlDetails(std::uint32_t mixer,
                                                 const MIXERCONTROLDETAILS* details,
                                                 std::uint32_t flags) {
    Call call{CallKind::SetControlDetails, mixer, flags};
    if (details) {
        call.details = *details;
        if (details->paDetails && details->cbDetails >= sizeof(std::uint32_t)) {
            call.values = FirstWords(*details);
        }
    }
    return Logged(call, [&] { return MixerModelDevice::SetControlDetails(mixer, details, flags); });
}

}  // namespace velmora
