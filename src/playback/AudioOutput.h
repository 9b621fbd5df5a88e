// The sound device as the preview engine sees it: a stereo stream of
// single-precision samples at the device's own rate, pulled through one
// render function on the device's thread.
//
// The render function fills both outputs with `frames` samples and returns
// whether the stream should go on; when it returns false the output stops
// by itself after that call (IsRunning() becomes false) and Start() runs it
// again.
//
// Create() gives the program's output (the system's default device through
// PortAudio); a test installs a factory of its own.  Failures are Core
// Audio's codes: kAudioHardwareBadDeviceError when there is no usable
// device, kAudioHardwareUnspecifiedError for anything else.
#pragma once

#include "MacTypes.h"

#include <functional>
#include <memory>

constexpr OSStatus kAudioHardwareBadDeviceError = 0x21646576;    // '!dev'
constexpr OSStatus kAudioHardwareUnspecifiedError = 0x77686174;  // 'what'

class AudioOutput {
public:
    using RenderFunction = std::function<bool(float* left, float* right, UInt32 frames)>;
    using Factory = std::function<std::unique_ptr<AudioOutput>()>;

    virtual ~AudioOutput();

    // Opens the device with `render` (not yet started).
    virtual OSStatus Open(RenderFunction render) = 0;
    virtual OSStatus Start() = 0;
    // Stops the stream; once it returns the render function is not running.
    virtual OSStatus Stop() = 0;
    virtual bool IsRunning() const = 0;
    // Frames per second of the stream (known once opened).
    virtual double SampleRate() const = 0;
    // Stops and releases the device.
    virtual void Close() = 0;

    // A new, unopened output from the installed factory (the default device
    // without one); null when none can be made.
    static std::unique_ptr<AudioOutput> Create();
    // An empty factory brings back the default device.
    static void SetFactory(Factory factory);
};
