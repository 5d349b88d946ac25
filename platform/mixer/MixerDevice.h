#pragma once

#include "platform/MMResult.h"

#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

// The program's mixer interface: the machine's mixer devices, their destination lines (outputs
// such as the speakers, and recording inputs), the source lines connected to each destination,
// and each line's controls (volume, mute, input selection), with the classic records, flags and
// result codes that the components use.

// A mixer handle from Open. Where a call takes a "mixer object", it is a device identifier
// (0 .. GetNumDevs() - 1) or a handle; MIXER_OBJECTF_HMIXER in the flags insists on a handle.
using HMIXER = std::uint32_t;

constexpr std::uint32_t MAXPNAMELEN = 32;
constexpr std::uint32_t MIXER_SHORT_NAME_CHARS = 16;
constexpr std::uint32_t MIXER_LONG_NAME_CHARS = 64;

// Open flags and notifications.
constexpr std::uint32_t CALLBACK_NULL = 0x00000000;
constexpr std::uint32_t CALLBACK_WINDOW = 0x00010000;
constexpr std::uint32_t MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr std::uint32_t MM_MIXM_CONTROL_CHANGE = 0x3D1;

// How a mixer object is given (high bits of the flags of every call).
constexpr std::uint32_t MIXER_OBJECTF_MIXER = 0x00000000;
constexpr std::uint32_t MIXER_OBJECTF_HMIXER = 0x80000000;
constexpr std::uint32_t MIXER_OBJECTF_TYPEMASK = 0xF0000000;

// Line flags.
constexpr std::uint32_t MIXERLINE_LINEF_ACTIVE = 0x00000001;
constexpr std::uint32_t MIXERLINE_LINEF_DISCONNECTED = 0x00008000;
constexpr std::uint32_t MIXERLINE_LINEF_SOURCE = 0x80000000;

// Component types of destination lines and of source lines.
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_UNDEFINED = 0;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_DIGITAL = 1;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_LINE = 2;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_MONITOR = 3;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_HEADPHONES = 5;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_TELEPHONE = 6;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_VOICEIN = 8;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x1001;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE = 0x1006;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x1007;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x1009;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;

// Target types of a line.
constexpr std::uint32_t MIXERLINE_TARGETTYPE_UNDEFINED = 0;
constexpr std::uint32_t MIXERLINE_TARGETTYPE_WAVEOUT = 1;
constexpr std::uint32_t MIXERLINE_TARGETTYPE_WAVEIN = 2;

// GetLineInfo queries.
constexpr std::uint32_t MIXER_GETLINEINFOF_DESTINATION = 0;
constexpr std::uint32_t MIXER_GETLINEINFOF_SOURCE = 1;
constexpr std::uint32_t MIXER_GETLINEINFOF_LINEID = 2;
constexpr std::uint32_t MIXER_GETLINEINFOF_COMPONENTTYPE = 3;
constexpr std::uint32_t MIXER_GETLINEINFOF_TARGETTYPE = 4;
constexpr std::uint32_t MIXER_GETLINEINFOF_QUERYMASK = 0xF;

// GetLineControls queries.
constexpr std::uint32_t MIXER_GETLINECONTROLSF_ALL = 0;
constexpr std::uint32_t MIXER_GETLINECONTROLSF_ONEBYID = 1;
constexpr std::uint32_t MIXER_GETLINECONTROLSF_ONEBYTYPE = 2;
constexpr std::uint32_t MIXER_GETLINECONTROLSF_QUERYMASK = 0xF;

// Get/SetControlDetails queries.
constexpr std::uint32_t MIXER_GETCONTROLDETAILSF_VALUE = 0;
constexpr std::uint32_t MIXER_GETCONTROLDETAILSF_LISTTEXT = 1;
constexpr std::uint32_t MIXER_GETCONTROLDETAILSF_QUERYMASK = 0xF;
constexpr std::uint32_t MIXER_SETCONTROLDETAILSF_VALUE = 0;
constexpr std::uint32_t MIXER_SETCONTROLDETAILSF_QUERYMASK = 0xF;

// Control flags.
constexpr std::uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;
constexpr std::uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002;
constexpr std::uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

// Control types: class, units and the types built from them.
constexpr std::uint32_t MIXERCONTROL_CT_CLASS_MASK = 0xF0000000;
constexpr std::uint32_t MIXERCONTROL_CT_CLASS_SWITCH = 0x20000000;
constexpr std::uint32_t MIXERCONTROL_CT_CLASS_FADER = 0x50000000;
constexpr std::uint32_t MIXERCONTROL_CT_CLASS_LIST = 0x70000000;
constexpr std::uint32_t MIXERCONTROL_CT_SC_LIST_MULTIPLE = 0x01000000;
constexpr std::uint32_t MIXERCONTROL_CT_UNITS_MASK = 0x00FF0000;
constexpr std::uint32_t MIXERCONTROL_CT_UNITS_BOOLEAN = 0x00010000;
constexpr std::uint32_t MIXERCONTROL_CT_UNITS_UNSIGNED = 0x00030000;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_BOOLEAN =
    MIXERCONTROL_CT_CLASS_SWITCH | MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = MIXERCONTROL_CONTROLTYPE_BOOLEAN + 2;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_FADER =
    MIXERCONTROL_CT_CLASS_FADER | MIXERCONTROL_CT_UNITS_UNSIGNED;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = MIXERCONTROL_CONTROLTYPE_FADER + 1;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_SINGLESELECT =
    MIXERCONTROL_CT_CLASS_LIST | MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUX = MIXERCONTROL_CONTROLTYPE_SINGLESELECT + 1;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT =
    MIXERCONTROL_CT_CLASS_LIST | MIXERCONTROL_CT_SC_LIST_MULTIPLE | MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MIXER =
    MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT + 1;

// Capabilities of a mixer device (48 bytes).
struct MIXERCAPS {
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    std::uint32_t vDriverVersion = 0;
    char szPname[MAXPNAMELEN] = {};
    std::uint32_t fdwSupport = 0;
    std::uint32_t cDestinations = 0;
};
static_assert(sizeof(MIXERCAPS) == 48);

// A destination or source line (168 bytes).
struct MIXERLINE {
    std::uint32_t cbStruct = 0;
    std::uint32_t dwDestination = 0;
    std::uint32_t dwSource = 0;
    std::uint32_t dwLineID = 0;
    std::uint32_t fdwLine = 0;
    std::uint32_t dwUser = 0;
    std::uint32_t dwComponentType = 0;
    std::uint32_t cChannels = 0;
    std::uint32_t cConnections = 0;
    std::uint32_t cControls = 0;
    char szShortName[MIXER_SHORT_NAME_CHARS] = {};
    char szName[MIXER_LONG_NAME_CHARS] = {};
    struct {
        std::uint32_t dwType = 0;
        std::uint32_t dwDeviceID = 0;
        std::uint16_t wMid = 0;
        std::uint16_t wPid = 0;
        std::uint32_t vDriverVersion = 0;
        char szPname[MAXPNAMELEN] = {};
    } Target;
};
static_assert(sizeof(MIXERLINE) == 168);

// A control of a line (148 bytes). The bounds of the unsigned and boolean controls used here
// are unsigned; a signed control would keep the same bits.
struct MIXERCONTROL {
    std::uint32_t cbStruct = 0;
    std::uint32_t dwControlID = 0;
    std::uint32_t dwControlType = 0;
    std::uint32_t fdwControl = 0;
    std::uint32_t cMultipleItems = 0;
    char szShortName[MIXER_SHORT_NAME_CHARS] = {};
    char szName[MIXER_LONG_NAME_CHARS] = {};
    struct {
        std::uint32_t dwMinimum = 0;
        std::uint32_t dwMaximum = 0;
        std::uint32_t dwReserved[4] = {};
    } Bounds;
    struct {
        std::uint32_t cSteps = 0;
        std::uint32_t dwReserved[5] = {};
    } Metrics;
};
static_assert(sizeof(MIXERCONTROL) == 148);

// Request for the controls of a line. Its classic 32-bit layout is 24 bytes; here the address
// of the records is a full pointer, so the record is larger and cbStruct holds sizeof.
struct MIXERLINECONTROLS {
    std::uint32_t cbStruct = 0;
    std::uint32_t dwLineID = 0;
    union {
        std::uint32_t dwControlID;
        std::uint32_t dwControlType = 0;
    };
    std::uint32_t cControls = 0;
    std::uint32_t cbmxctrl = 0;
    MIXERCONTROL* pamxctrl = nullptr;
};

// Request for the values (or list texts) of a control. As above, the classic layout is 24
// bytes and this one holds a full pointer; cbStruct holds sizeof. The values are
// cChannels x (cMultipleItems, or 1) records of cbDetails bytes, channel-major per item.
struct MIXERCONTROLDETAILS {
    std::uint32_t cbStruct = 0;
    std::uint32_t dwControlID = 0;
    std::uint32_t cChannels = 0;
    std::uint32_t cMultipleItems = 0;
    std::uint32_t cbDetails = 0;
    void* paDetails = nullptr;
};

struct MIXERCONTROLDETAILS_UNSIGNED {
    std::uint32_t dwValue = 0;
};
struct MIXERCONTROLDETAILS_BOOLEAN {
    std::int32_t fValue = 0;
};

// One entry of a list control's texts (72 bytes): for a source selection, dwParam1 is the line
// identifier of the source and dwParam2 its component type.
struct MIXERCONTROLDETAILS_LISTTEXT {
    std::uint32_t dwParam1 = 0;
    std::uint32_t dwParam2 = 0;
    char szName[MIXER_LONG_NAME_CHARS] = {};
};
static_assert(sizeof(MIXERCONTROLDETAILS_LISTTEXT) == 72);

// Receives the change notifications of a device opened with CALLBACK_WINDOW, on the user
// interface thread: MM_MIXM_LINE_CHANGE with a line identifier or MM_MIXM_CONTROL_CHANGE with a
// control identifier, and the handle that was opened.
using MixerCallback = std::function<void(std::uint32_t message, HMIXER mixer, std::uint32_t id)>;

// The mixer devices of the machine.
//
// Lifecycle: a backend is created by whoever owns the window (or by a tool or a test) and handed
// to the components by reference; it outlives them and every handle they opened. All calls come
// from the user interface thread, and callbacks are called on it, never from inside a call.
//
// Lines and controls keep their identifiers while the device is open; what a line holds may
// change (a program starts or ends playing), which the line-change notification tells. Records
// are checked: cbStruct must be at least the size of the record (for the two requests, sizeof),
// and what is missing or inconsistent gives a result code rather than a guess.
class MixerDevice {
public:
    virtual ~MixerDevice() = default;

    virtual std::uint32_t GetNumDevs() = 0;
    // flags: CALLBACK_WINDOW (then `callback` receives the notifications) or CALLBACK_NULL.
    virtual MMRESULT Open(HMIXER* mixer, std::uint32_t deviceId, MixerCallback callback,
                          std::uint32_t instance, std::uint32_t flags) = 0;
    virtual MMRESULT Close(HMIXER mixer) = 0;
    // `mixer` is a device identifier or a handle; copies at most `capsSize` bytes.
    virtual MMRESULT GetDevCaps(std::uint32_t mixer, MIXERCAPS* caps, std::uint32_t capsSize) = 0;
    virtual MMRESULT GetLineInfo(std::uint32_t mixer, MIXERLINE* line, std::uint32_t flags) = 0;
    virtual MMRESULT GetLineControls(std::uint32_t mixer, MIXERLINECONTROLS* controls,
                                     std::uint32_t flags) = 0;
    virtual MMRESULT GetControlDetails(std::uint32_t mixer, MIXERCONTROLDETAILS* details,
                                       std::uint32_t flags) = 0;
    virtual MMRESULT SetControlDetails(std::uint32_t mixer, const MIXERCONTROLDETAILS* details,
                                       std::uint32_t flags) = 0;

    // Told on the user interface thread when another program changed the speaker levels this
    // program set and the device has put them back. A device that cannot tell never calls it.
    using LevelRestoredHandler = std::function<void()>;
    virtual void SetLevelRestoredHandler(LevelRestoredHandler handler) { (void)handler; }

    // Told on the user interface thread when the speaker levels this program set could not be
    // put on the output (false: nothing is heard until they are), and when they hold there again
    // (true); once per such spell. A device that cannot tell never calls it.
    using LevelHeldHandler = std::function<void(bool held)>;
    virtual void SetLevelHeldHandler(LevelHeldHandler handler) { (void)handler; }

    // The output the speaker line stands for now (the server's default output): its name and
    // description as the server names them, kept with each visit of a patient; both empty where
    // the device cannot tell.
    struct OutputIdentity {
        std::string name;
        std::string description;
    };
    virtual OutputIdentity SpeakerOutput() { return {}; }
};

}  // namespace velmora
