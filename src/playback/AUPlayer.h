// The preview engine: plays one CSoundFile through the sound device.
//
// A feeding thread (ThreadObject) reads the file in blocks of 24576 frames
// into a per-channel ring (CyclicPlayBuffer).  The device's render thread
// pulls stereo through the Varispeed, which pulls the file-rate mix from
// Render: up to 16 channels mixed to two with a fixed matrix chosen by the
// file's channel-layout tag, scaled by the volume.  When the end of the
// selected range has been played the render side clears the playing state
// and calls the end callback with "AUPlayer Stop"; it leaves the ring to
// the next Play, which empties it under both locks.  An empty range ends in
// the first render call; a file that stops giving frames ends where it
// stopped.  While the ring is empty but the range goes on, the render side
// plays silence and reports no end.
//
// Locks.  The graph lock guards the file, the ring's reading side, the
// matrix and the speed change; the render thread holds it for each period
// it renders, but only tries it and plays silence when it is busy, so it
// never waits.  The buffer lock guards the file reads and the
// ring's writing side; the fill pass takes it.  Whatever empties or
// replaces the ring (Play, Pause, Stop, SetFile, Close) holds both, graph
// lock first, so clearing the ring never races a fill pass or a render.
//
// The output.  After a long silence the render side stops the output, and
// the next Play starts it again.  Whether the engine plays and whether the
// render side has chosen to stop the output are one atomic state, so the
// two never cross: the render side stops the output only from the idle
// state, and Play claims the output by leaving that state, or, when the
// stop has been chosen already, lets it finish and starts the output anew.
// A Play is therefore never left with a stopped output and no end to come.
//
// Threads: construction, SetFile, Play, Pause, Stop, SetRate and Close on
// one controlling thread; Render on the device's thread; fill passes on the
// feeding thread (and the first one of each Play on the caller's).
#pragma once

#include "AudioOutput.h"
#include "CyclicPlayBuffer.h"
#include "ThreadObject.h"
#include "Varispeed.h"

#include "AudioLayoutTypes.h"
#include "MacTypes.h"

#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CSoundFile;

class AUPlayer {
public:
    // Called on the render thread with "AUPlayer Stop"; it must only hand
    // the work on and return.
    using EndCallback = std::function<void(const QString& name)>;

    // Constants of the engine.
    static constexpr UInt32 kFillFrames = 24576;
    static constexpr UInt32 kRingFrames = 49152;
    static constexpr UInt32 kReadBufferFrames = 49152;
    static constexpr UInt32 kIdleLimitFrames = 240000;
    static constexpr UInt32 kMaxChannels = 16;
    // The output-is-silence render action flag.
    static constexpr UInt32 kRenderOutputIsSilence = 16;

    using MixMatrix = std::array<std::array<float, kMaxChannels>, 2>;

    // Opens the output (`output`, or the default device when null), starts
    // the feeder and the output, then SetFile(file) (taking ownership).
    // Throws error_code_exception when any of it fails, after releasing what
    // was built (the file included).
    AUPlayer(CSoundFile* file, EndCallback callback, std::unique_ptr<AudioOutput> output = nullptr);
    ~AUPlayer();
    AUPlayer(const AUPlayer&) = delete;
    AUPlayer& operator=(const AUPlayer&) = delete;

    // Replaces the file (null only releases the old one) and takes ownership
    // of the new one, which it opens.  Throws error_code_exception when the
    // file cannot be opened or read; the engine then holds no file.
    void SetFile(CSoundFile* file);
    // Plays frames from..to (end exclusive) of the current file from the
    // start frame, whatever was playing before.
    void Play(UInt32 from, UInt32 to);
    // Stops output and empties the ring; the selection stays.
    void Pause();
    // With a file: stops output, clears the selection, empties the ring.
    // The end callback is not called.
    void Stop();
    // The playback rate (1.0 = normal); throws paramErr for a rate that is
    // not a positive finite number.
    void SetRate(float rate);
    float Rate() const { return m_rate.load(); }
    bool IsPlaying() const { return (m_state.load() & kPlayingState) != 0; }
    // How many times Play has begun; read by the end callback, it names the
    // play that ended.
    UInt32 PlayCount() const { return m_plays.load(); }
    // Stops the feeder and the output, releases the buffers and the file.
    void Close();

    // The volume in decibels (0 = unity gain).
    void SetVolume(float decibels) { m_volume.store(decibels); }
    float Volume() const { return m_volume.load(); }

    // One render call at the file's rate into two output buffers;
    // *actionFlags gets kRenderOutputIsSilence when nothing played.  It
    // only tries the graph lock and plays silence while that is busy.
    void Render(UInt32 frames, UInt32* actionFlags, float* left, float* right);
    // One fill pass.
    void Feed();

    // The matrix for the layout a file of `channels` channels reports: the
    // listed configurations' own; any other layout of known speakers (by
    // tag, bitmap or channel descriptions) puts each on its side (the
    // centre ones on both); one channel is heard on both sides, and
    // undescribed channels play channels 0 and 1.
    static MixMatrix MatrixForLayout(const AudioChannelLayout& layout, UInt32 channels);
    MixMatrix Matrix() const;
    // Whether the output runs (it stops after a long silence; Play starts
    // it again).
    bool IsOutputRunning() const
    {
        return m_output && m_output->IsRunning() && (m_state.load() & kStoppingOutputState) == 0;
    }
    AudioOutput* Output() const { return m_output.get(); }
    double FileSampleRate() const { return m_fileRate.load(); }

    // For tests: a function called at two moments of every engine, so that
    // a test can hold the engine there or act at once.  Set it while no
    // engine renders.
    enum class TestPoint {
        kIdleStop,  // on the render thread: about to stop the output after a long silence
        kPlaying,   // at the end of Play: the range plays
    };
    using TestHook = std::function<void(AUPlayer& engine, TestPoint point)>;
    static void SetTestHook(TestHook hook);

private:
    void FreeBuffers();
    void ClearRing();
    void UpdateStep();
    // Render with the graph lock held.
    void RenderLocked(UInt32 frames, UInt32* actionFlags, float* left, float* right);
    // One period of the output: the mix through the speed change, then the
    // idle count; false stops the output.
    bool RenderOutput(float* left, float* right, UInt32 frames);
    static void FeederThunk(void* engine);

    struct FileCloser {
        void operator()(CSoundFile* file) const;
    };

    std::unique_ptr<CSoundFile, FileCloser> m_file;
    std::unique_ptr<AudioOutput> m_output;
    // The engine plays: the render side takes frames from the ring.
    static constexpr unsigned kPlayingState = 1;
    // The render side has chosen to stop the output; only Play clears it,
    // once the output has stopped.
    static constexpr unsigned kStoppingOutputState = 2;
    std::atomic<unsigned> m_state{0};
    std::atomic<UInt32> m_plays{0};
    EndCallback m_callback;
    const QString m_stopName;
    std::atomic<UInt32> m_begin{0};
    std::atomic<UInt32> m_end{0};
    std::atomic<double> m_fileRate{44100.0};
    std::unique_ptr<CyclicPlayBuffer> m_ring;
    std::vector<std::vector<float>> m_readBuffers;
    std::vector<float*> m_readPointers;
    std::atomic<bool> m_refillPending{false};
    UInt32 m_readFrame = 0;
    std::atomic<float> m_volume{0.0f};
    std::atomic<float> m_rate{1.0f};
    MixMatrix m_matrix{};
    std::atomic<UInt32> m_idleFrames{0};
    std::unique_ptr<ThreadObject> m_feeder;
    Varispeed m_varispeed;
    Varispeed::Source m_source;

    mutable std::mutex m_graphLock;
    std::mutex m_bufferLock;
};
