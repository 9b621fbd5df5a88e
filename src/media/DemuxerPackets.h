// The libraries' demuxer over a file, and its sound track's packets: it
// owns the opened input (a FileView where the file's own bytes stop the
// demuxer short), and passes over what it hands out that is no packet of
// the track: what is read past a viewed file's end, a raw MPEG audio
// stream's tags (and the zeros before a frame), a FLAC frame the parser
// gives again, the header packets of a chained Ogg FLAC link.
#pragma once

#include "CodecTraits.h"
#include "FileView.h"
#include "PacketSource.h"

#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVStream;

class DemuxerPackets : public PacketSource {
public:
    // Opens the file at `path` and picks its first sound track: an error
    // where it cannot be read (one cut before what the demuxer needs is a
    // cut file: TrackLengthRule::CutBeforeReadable), or has no sound track.
    static OSErr Open(const std::string& path, std::unique_ptr<DemuxerPackets>* out);
    ~DemuxerPackets() override;
    DemuxerPackets(const DemuxerPackets&) = delete;
    DemuxerPackets& operator=(const DemuxerPackets&) = delete;

    // What of the demuxer's packets is no packet of the track, as the
    // track's container and codec tell: the tags of a raw stream of
    // `syntax` from `tagsFrom` on (-1: not such a stream), FLAC frames
    // placed from `repeatedFrom` on (-1: none), the header packets of a
    // chained link of the Ogg mapping `linkHeaders` (a FLAC link's
    // metadata, an Opus link's "OpusHead" and "OpusTags"), and the bytes
    // that pad a data chunk ending
    // at `dataEnd` (-1: none), up to `padding` of them, fewer than a frame
    // of `blockAlign` bytes.
    struct PassOver {
        FrameSyntax syntax = FrameSyntax::None;
        int64_t tagsFrom = -1;
        int64_t repeatedFrom = -1;
        OggMapping linkHeaders = OggMapping::None;
        int64_t dataEnd = -1;
        int padding = 0;
        int blockAlign = 0;
    };
    void Pass(const PassOver& what) { pass_ = what; }

    std::optional<Packet> Next() override;
    // Finds the packet again by its timestamp (its byte position in a
    // stream sought by bytes, `byteSeek`) and holds it for Next.
    bool SeekTo(std::size_t k, const IndexEntry& entry) override;
    // The input opened again.
    OSErr Rewind() override;
    bool IsOpen() const override { return format_ != nullptr; }
    void SeekByBytes(bool byteSeek) { byteSeek_ = byteSeek; }

    const AVFormatContext* Format() const { return format_; }
    const AVStream* Stream() const;
    int StreamIndex() const { return stream_; }
    // Whether the file is read through a view, and the bytes the demuxer
    // sees (the view's, or the file's).
    bool Viewed() const { return view_ != nullptr; }
    int64_t Bytes() const;

private:
    explicit DemuxerPackets(std::string path) : path_(std::move(path)) {}
    OSErr OpenInput();
    void Close();
    // The packet read last, as a value.
    Packet Value() const;
    bool IsTag() const;
    bool IsPadding() const;
    bool IsLinkHeader() const;

    std::string path_;
    AVFormatContext* format_ = nullptr;
    std::unique_ptr<movie_input::FileView> view_;
    AVIOContext* viewIO_ = nullptr;
    AVPacket* packet_ = nullptr;
    int stream_ = -1;
    PassOver pass_;
    bool byteSeek_ = false;
    // The index of the packet read last (-1: none yet), and whether it is
    // held for Next to hand out again (a seek found it).
    int64_t ordinal_ = -1;
    bool held_ = false;
};
