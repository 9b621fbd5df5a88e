#include "AUPlayer.h"

#include "CSoundFile.h"
#include "ChannelLabels.h"
#include "error_code_exception.h"
#include "throw_helpers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {
constexpr float kFull = 1.0f;
constexpr float kHalf = 0.5f;
constexpr float kMinus3dB = 0.707f;
constexpr float kMinus1_25dB = 0.866f;

// One output row: {channel, weight} pairs.
struct Weight {
    int channel;
    float weight;
};

void SetRow(AUPlayer::MixMatrix& matrix, int row, std::initializer_list<Weight> weights)
{
    for (const Weight& w : weights)
        matrix[row][w.channel] = w.weight;
}

AUPlayer::TestHook& InstalledTestHook()
{
    static AUPlayer::TestHook hook;
    return hook;
}
}

void AUPlayer::SetTestHook(TestHook hook) { InstalledTestHook() = std::move(hook); }

void AUPlayer::FileCloser::operator()(CSoundFile* file) const
{
    if (file)
        file->CloseAndDelete(false);
}

// The speakers a layout names, channel by channel.
std::vector<UInt32> LayoutLabels(const AudioChannelLayout& layout, UInt32 channels)
{
    std::vector<UInt32> labels;
    if (layout.mChannelLayoutTag == kAudioChannelLayoutTag_UseChannelDescriptions) {
        const AudioChannelDescription* descriptions = layout.mChannelDescriptions;
        for (UInt32 i = 0; i < std::min(layout.mNumberChannelDescriptions, channels); ++i)
            labels.push_back(descriptions[i].mChannelLabel);
    } else if (layout.mChannelLayoutTag == kAudioChannelLayoutTag_UseChannelBitmap) {
        // Bit n is the speaker labelled n + 1, the channels in bit order.
        for (UInt32 bit = 0; bit < 32; ++bit)
            if (layout.mChannelBitmap & (1u << bit))
                labels.push_back(bit + 1);
    } else {
        labels = ChannelLabelsForLayoutTag(layout.mChannelLayoutTag);
    }
    return labels;
}

AUPlayer::MixMatrix AUPlayer::MatrixForLayout(const AudioChannelLayout& layout, UInt32 channels)
{
    MixMatrix m{};
    // One channel is heard on both sides, whatever speaker it names.
    const AudioChannelLayoutTag tag = channels == 1 ? kAudioChannelLayoutTag_Mono : layout.mChannelLayoutTag;
    switch (tag) {
    case kAudioChannelLayoutTag_Mono:
        SetRow(m, 0, {{0, kFull}});
        SetRow(m, 1, {{0, kFull}});
        break;
    case kAudioChannelLayoutTag_Quadraphonic:  // L R Ls Rs
        SetRow(m, 0, {{0, kFull}, {2, kMinus3dB}});
        SetRow(m, 1, {{1, kFull}, {3, kMinus3dB}});
        break;
    case kAudioChannelLayoutTag_MPEG_4_0_B:  // C L R Cs: the centre on both sides, each side on its own
        SetRow(m, 0, {{0, kMinus3dB}, {1, kFull}, {3, kMinus3dB}});
        SetRow(m, 1, {{0, kMinus3dB}, {2, kFull}, {3, kMinus3dB}});
        break;
    case kAudioChannelLayoutTag_MPEG_5_0_B:
        SetRow(m, 0, {{0, kFull}, {2, kMinus3dB}, {4, kMinus3dB}});
        SetRow(m, 1, {{1, kFull}, {3, kMinus3dB}, {4, kMinus3dB}});
        break;
    case kAudioChannelLayoutTag_MPEG_5_1_A:
        SetRow(m, 0, {{0, kFull}, {2, kMinus3dB}, {3, kHalf}, {4, kMinus3dB}});
        SetRow(m, 1, {{1, kFull}, {2, kMinus3dB}, {3, kHalf}, {5, kMinus3dB}});
        break;
    case kAudioChannelLayoutTag_MPEG_6_1_A:
        SetRow(m, 0, {{0, kFull}, {2, kMinus3dB}, {4, kMinus3dB}, {6, kMinus3dB}});
        SetRow(m, 1, {{1, kFull}, {2, kMinus3dB}, {5, kMinus3dB}, {6, kMinus3dB}});
        break;
    case kAudioChannelLayoutTag_MPEG_7_1_B:
        SetRow(m, 0, {{0, kMinus3dB}, {1, kMinus1_25dB}, {2, kHalf}, {3, kFull}, {5, kMinus3dB}, {7, kHalf}});
        SetRow(m, 1, {{0, kMinus3dB}, {1, kHalf}, {2, kMinus1_25dB}, {4, kFull}, {6, kMinus3dB}, {7, kHalf}});
        break;
    case kAudioChannelLayoutTag_AudioUnit_6_0:
        SetRow(m, 0, {{0, kFull}, {2, kMinus3dB}, {4, kMinus3dB}, {5, kMinus3dB}});
        SetRow(m, 1, {{1, kFull}, {3, kMinus3dB}, {4, kMinus3dB}, {5, kMinus3dB}});
        break;
    default: {
        // Any other layout of known speakers (LCR, 7.1 with rear surrounds,
        // a multichannel file's own, channels described one by one): each
        // speaker on its side, the centre ones on both.  Undescribed
        // channels: channels 0 and 1.
        const std::vector<UInt32> labels = LayoutLabels(layout, channels);
        bool placed = false;
        for (std::size_t c = 0; c < labels.size() && c < m[0].size(); ++c) {
            const int ch = int(c);
            switch (labels[c]) {
            case kAudioChannelLabel_Left: SetRow(m, 0, {{ch, kFull}}); break;
            case kAudioChannelLabel_Right: SetRow(m, 1, {{ch, kFull}}); break;
            case kAudioChannelLabel_Center:
            case kAudioChannelLabel_CenterSurround:
                SetRow(m, 0, {{ch, kMinus3dB}});
                SetRow(m, 1, {{ch, kMinus3dB}});
                break;
            case kAudioChannelLabel_LFEScreen:
            case kAudioChannelLabel_LFE2:
            case kAudioChannelLabel_TopCenterSurround:
            case kAudioChannelLabel_VerticalHeightCenter:
            case kAudioChannelLabel_TopBackCenter:
                SetRow(m, 0, {{ch, kHalf}});
                SetRow(m, 1, {{ch, kHalf}});
                break;
            case kAudioChannelLabel_LeftSurround:
            case kAudioChannelLabel_LeftSurroundDirect:
            case kAudioChannelLabel_RearSurroundLeft:
            case kAudioChannelLabel_LeftWide:
            case kAudioChannelLabel_VerticalHeightLeft:
            case kAudioChannelLabel_TopBackLeft: SetRow(m, 0, {{ch, kMinus3dB}}); break;
            case kAudioChannelLabel_RightSurround:
            case kAudioChannelLabel_RightSurroundDirect:
            case kAudioChannelLabel_RearSurroundRight:
            case kAudioChannelLabel_RightWide:
            case kAudioChannelLabel_VerticalHeightRight:
            case kAudioChannelLabel_TopBackRight: SetRow(m, 1, {{ch, kMinus3dB}}); break;
            case kAudioChannelLabel_LeftCenter:
                SetRow(m, 0, {{ch, kMinus1_25dB}});
                SetRow(m, 1, {{ch, kHalf}});
                break;
            case kAudioChannelLabel_RightCenter:
                SetRow(m, 0, {{ch, kHalf}});
                SetRow(m, 1, {{ch, kMinus1_25dB}});
                break;
            default: continue;
            }
            placed = true;
        }
        if (!placed) {
            SetRow(m, 0, {{0, kFull}});
            SetRow(m, 1, {{1, kFull}});
        }
        break;
    }
    }
    return m;
}

AUPlayer::AUPlayer(CSoundFile* file, EndCallback callback, std::unique_ptr<AudioOutput> output)
    : m_callback(std::move(callback)), m_stopName(QStringLiteral("AUPlayer Stop"))
{
    m_source = [this](float* l, float* r, UInt32 n) {
        UInt32 flags = 0;
        RenderLocked(n, &flags, l, r);
    };
    std::unique_ptr<CSoundFile, FileCloser> owned(file);
    try {
        m_output = output ? std::move(output) : AudioOutput::Create();
        if (!m_output)
            THROW_IF_ERROR(kAudioHardwareBadDeviceError, "no sound output");
        THROW_IF_ERROR(m_output->Open([this](float* l, float* r, UInt32 n) { return RenderOutput(l, r, n); }),
                       "opening the sound output");
        m_feeder = std::make_unique<ThreadObject>();
        m_feeder->Start(this, &AUPlayer::FeederThunk);
        THROW_IF_ERROR(m_output->Start(), "starting the sound output");
        m_idleFrames = 0;
        SetFile(owned.release());
    } catch (...) {
        Close();
        throw;
    }
}

AUPlayer::~AUPlayer() { Close(); }

void AUPlayer::FeederThunk(void* engine)
{
    try {
        static_cast<AUPlayer*>(engine)->Feed();
    } catch (...) {
        // A failed pass is dropped; the next signal tries again.
    }
}

void AUPlayer::FreeBuffers()
{
    // Both locks are held by the caller.
    if (m_ring) {
        m_ring->Clear();
        m_ring->Free();
        m_ring.reset();
    }
    m_readBuffers.clear();
    m_readPointers.clear();
    m_file.reset();
}

void AUPlayer::SetFile(CSoundFile* file)
{
    std::unique_ptr<CSoundFile, FileCloser> owned(file);
    std::lock_guard<std::mutex> graph(m_graphLock);
    std::lock_guard<std::mutex> buffer(m_bufferLock);
    m_state.fetch_and(~kPlayingState);
    FreeBuffers();
    if (!owned)
        return;
    try {
        THROW_IF_ERROR(owned->Open(), "opening the file to play");
        THROW_IF_ERROR(owned->SetBufferFrames(kFillFrames));
        THROW_IF_ERROR(owned->AllocateReadBuffer());
        const UInt32 channels = owned->GetNumChannels();
        if (channels == 0)
            THROW_IF_ERROR(paramErr, "a file without channels");
        auto ring = std::make_unique<CyclicPlayBuffer>();
        ring->Allocate(kRingFrames, std::min(channels, kMaxChannels));
        m_readBuffers.assign(channels, std::vector<float>(kReadBufferFrames, 0.0f));
        m_readPointers.clear();
        for (std::vector<float>& b : m_readBuffers)
            m_readPointers.push_back(b.data());
        if (owned->GetSampleRate() > 0 && std::isfinite(owned->GetSampleRate()))
            m_fileRate = owned->GetSampleRate();
        AudioChannelLayout* layout = owned->CreateChannelLayout(nullptr);
        THROW_IF_NULL(layout, "channel layout");
        m_matrix = MatrixForLayout(*layout, channels);
        std::free(layout);
        m_ring = std::move(ring);
        m_file = std::move(owned);
    } catch (...) {
        m_readBuffers.clear();
        m_readPointers.clear();
        throw;
    }
    UpdateStep();
}

void AUPlayer::UpdateStep()
{
    const double outputRate = m_output ? m_output->SampleRate() : 0.0;
    const double fileRate = m_fileRate.load();
    if (outputRate > 0 && fileRate > 0)
        m_varispeed.SetStep(fileRate / outputRate * double(m_rate.load()));
}

void AUPlayer::ClearRing()
{
    // Both locks are held by the caller.
    if (m_ring)
        m_ring->Clear();
    m_refillPending = false;
    m_varispeed.RequestReset();
}

void AUPlayer::Play(UInt32 from, UInt32 to)
{
    {
        std::lock_guard<std::mutex> graph(m_graphLock);
        std::lock_guard<std::mutex> buffer(m_bufferLock);
        m_state.fetch_and(~kPlayingState);
        ++m_plays;
        ClearRing();
        m_begin = from;
        m_readFrame = from;
        m_end = to;
    }
    Feed();
    if (!m_file || !m_output)
        return;  // nothing to play: no end will be reported either
    // Claim the output: from the idle state the render side can no longer
    // stop it.  When it has chosen to stop it already, that stop finishes
    // first (the render function is not running once Stop returns).
    unsigned idle = 0;
    if (!m_state.compare_exchange_strong(idle, kPlayingState)) {
        m_output->Stop();
        m_state = kPlayingState;
    }
    m_idleFrames = 0;
    if (!m_output->IsRunning()) {
        const OSStatus status = m_output->Start();
        if (status != noErr)
            m_state.fetch_and(~kPlayingState);
        THROW_IF_ERROR(status, "starting the sound output");
    }
    if (const TestHook& hook = InstalledTestHook())
        hook(*this, TestPoint::kPlaying);
}

void AUPlayer::Pause()
{
    m_state.fetch_and(~kPlayingState);
    std::lock_guard<std::mutex> graph(m_graphLock);
    std::lock_guard<std::mutex> buffer(m_bufferLock);
    ClearRing();
}

void AUPlayer::Stop()
{
    std::lock_guard<std::mutex> graph(m_graphLock);
    if (!m_file)
        return;
    m_end = 0;
    m_state.fetch_and(~kPlayingState);
    m_begin = 0;
    std::lock_guard<std::mutex> buffer(m_bufferLock);
    ClearRing();
}

void AUPlayer::SetRate(float rate)
{
    if (!std::isfinite(rate) || rate <= 0)
        THROW_IF_ERROR(paramErr, "playback rate");
    m_rate = rate;
    UpdateStep();
}

void AUPlayer::Close()
{
    m_state.fetch_and(~kPlayingState);
    if (m_feeder) {
        m_feeder->Stop();
        m_feeder.reset();
    }
    if (m_output)
        m_output->Close();
    std::lock_guard<std::mutex> graph(m_graphLock);
    std::lock_guard<std::mutex> buffer(m_bufferLock);
    FreeBuffers();
}

AUPlayer::MixMatrix AUPlayer::Matrix() const
{
    std::lock_guard<std::mutex> graph(m_graphLock);
    return m_matrix;
}

void AUPlayer::Feed()
{
    std::lock_guard<std::mutex> buffer(m_bufferLock);
    if (!m_ring || !m_file) {
        m_refillPending = false;
        return;
    }
    const UInt32 end = m_end.load();
    const UInt32 remaining = end > m_readFrame ? end - m_readFrame : 0;
    UInt32 frames = kFillFrames;
    if (remaining <= kFillFrames) {
        frames = remaining;
        // An empty range ends at once (its end is where the ring stands).
        if (remaining != 0 || !m_ring->HasEndMark())
            m_ring->MarkEnd(remaining);
    }
    frames = std::min(frames, m_ring->WritableFrames());
    if (frames != 0) {
        UInt32 count = frames;
        const OSErr err = m_file->ReadFrames(m_readFrame, &count, m_readPointers.data());
        if (err != noErr || count == 0) {
            // The file gives no more: what is in the ring is the end.
            m_end = m_readFrame;
            m_ring->MarkEnd(0);
        } else {
            m_ring->Write(m_readPointers.data(), &count);
            m_readFrame += count;
        }
    } else if (remaining == 0) {
        m_ring->SilenceAhead(m_ring->WritableFrames());
    }
    m_refillPending = false;
}

void AUPlayer::Render(UInt32 frames, UInt32* actionFlags, float* left, float* right)
{
    std::unique_lock<std::mutex> graph(m_graphLock, std::try_to_lock);
    if (graph.owns_lock()) {
        RenderLocked(frames, actionFlags, left, right);
    } else {
        // Busy: the ring is being emptied or replaced.
        *actionFlags |= kRenderOutputIsSilence;
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
    }
}

void AUPlayer::RenderLocked(UInt32 frames, UInt32* actionFlags, float* left, float* right)
{
    auto silence = [&](UInt32 from) {
        std::fill(left + from, left + frames, 0.0f);
        std::fill(right + from, right + frames, 0.0f);
    };
    if (!IsPlaying() || !m_file || !m_ring) {
        *actionFlags |= kRenderOutputIsSilence;
        silence(0);
        return;
    }
    const UInt32 channels = m_ring->Channels();
    const float gain = std::pow(10.0f, m_volume.load() * 0.05f);
    const float* in[kMaxChannels] = {};
    float* out[2] = {left, right};
    UInt32 done = 0;
    bool ended = false;
    while (done < frames) {
        UInt32 k = frames - done;
        if (!ended)
            ended = m_ring->GetReadPointers(&k, in);
        else
            k = 0;
        if (k == 0) {
            // After the end, and while the ring is empty, the rest is silence.
            silence(done);
            break;
        }
        for (int o = 0; o < 2; ++o) {
            float* dest = out[o] + done;
            std::fill_n(dest, k, 0.0f);
            for (UInt32 j = 0; j < channels; ++j) {
                const float m = gain * m_matrix[o][j];
                if (m == 0.0f)
                    continue;
                const float* src = in[j];
                for (UInt32 i = 0; i < k; ++i)
                    dest[i] += m * src[i];
            }
        }
        m_ring->FinishRead(k);
        done += k;
    }
    if (ended) {
        m_end = 0;
        m_state.fetch_and(~kPlayingState);
        m_begin = 0;
        if (m_callback)
            m_callback(m_stopName);
    } else if (!m_refillPending.load() && m_ring->WritableFrames() > kFillFrames) {
        m_refillPending = true;
        if (m_feeder)
            m_feeder->Signal();
    }
}

bool AUPlayer::RenderOutput(float* left, float* right, UInt32 frames)
{
    {
        // The whole period under the graph lock: a Play's emptying of the
        // ring and its speed-change reset fall between two periods, never
        // inside one.
        std::unique_lock<std::mutex> graph(m_graphLock, std::try_to_lock);
        if (graph.owns_lock()) {
            m_varispeed.Process(left, right, frames, m_source);
        } else {
            std::fill_n(left, frames, 0.0f);
            std::fill_n(right, frames, 0.0f);
        }
    }
    const unsigned state = m_state.load();
    if ((state & kPlayingState) != 0) {
        m_idleFrames = 0;
        return true;
    }
    if (state == 0 && m_idleFrames.fetch_add(frames) + frames > kIdleLimitFrames) {
        if (const TestHook& hook = InstalledTestHook())
            hook(*this, TestPoint::kIdleStop);
        // Stop the output, unless a Play has claimed it meanwhile.
        unsigned idle = 0;
        m_state.compare_exchange_strong(idle, kStoppingOutputState);
        m_idleFrames = 0;
    }
    return (m_state.load() & kStoppingOutputState) == 0;
}
