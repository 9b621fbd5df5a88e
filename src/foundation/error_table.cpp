#include "error_table.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// Sorted by code.  Messages stay exactly as the log has always shown them.
// Every code that reading or writing one file can give is here with a
// warning class, so that one file's failure never stops a batch (what a
// file holds never stops it, whatever the code); codes of a broken
// conversion (-50 and the like) stay out and stop it, and so do the
// batch's own causes: a cancel, a full disk, a vanished output folder or
// named input.
constexpr ErrorTableEntry kErrorTable[] = {
    {-24702, 1, "input file must be mono or stereo"},
    {-24701, 1, "combination of bit rate and sample rate not allowed for stereo files"},
    {-24700, 1, "combination of bit rate and sample rate not allowed for mono files"},
    {-24620, 1, "is of a type that cannot be written: choose an output type for this conversion"},
    {-24605, 1, "has a sample rate MP3 does not take (MP3)"},
    {-24604, 1, "was encoded at a lower bit rate than asked (MP3)"},
    {-24603, 1, "no usable LAME encoder found (MP3)"},
    {-24602, 1, "the LAME encoder failed (MP3)"},
    {-24601, 1, "has more than two channels (MP3)"},
    {-24515, 1, "G2 Encoder found an illegal audio quality setting"},
    {-24514, 1, "G2 Encoder found an invalid video quality setting"},
    {-24513, 1, "G2 Encoder could not find an input file"},
    {-24512, 1, "G2 Encoder could not query the input file"},
    {-24511, 1, "G2 Encoder failed during encoding"},
    {-24510, 1, "G2 Encoder could not get a size for audio input"},
    {-24509, 1, "G23 Encoder could not get an audio sample"},
    {-24508, 1, "G2 Encoder could not create a media sample"},
    {-24507, 1, "G2 Encoder could not prepare the engine"},
    {-24506, 1, "G2 encoder could not open audio stream"},
    {-24505, 1, "G2 Encoder could not initialize audio"},
    {-24504, 1, "G2 encoder could not get source properties"},
    {-24503, 1, "G2 Build Engine failed"},
    {-24502, 1, "Input file could not be opened"},
    {-24501, 1, "the output file name appeared empty"},
    {-24500, 1, "RealAudio G2 Encoding Libraries not found"},
    {-24300, 1, "has a channel layout no channel mask names: channels kept in the file's order"},
    {-24233, 1, "has parts of another word length (a chained stream) that cannot be read as one sound: convert them one by one"},
    {-24232, 1, "is lossless, and its type is written in a lossy coding"},
    {-24231, 1, "has parts at another sample rate that cannot be read as one sound"},
    {-24230, 1, "has parts with another number of channels (a chained or joined stream): convert them one by one"},
    {-24210, 1, "has samples beyond full scale"},
    {-24207, 1, "is game music, which its emulator plays for as long as it is let: it has no length to convert"},
    {-24206, 1, "is a FLAC file of more than 24 bits that is damaged or cut, which cannot be read"},
    {-24205, 1, "has a header that misstates its length"},
    {-24204, 1, "has sound that could not be decoded"},
    {-24203, 1, "has no sound that can be decoded"},
    {-24202, 1, "QuickTime: no audio track in file"},
    {-24201, 1, "QuickTime 3.0 is not installed"},
    {-24102, 1, "Audio-CD read error"},
    {-24101, 1, "missed matching audio in CD-Track overlaps"},
    {-24100, 1, "can't be created as an Audio CD track"},
    {-24003, 1, "was padded with silence to whole groups of ten frames (Paris 24 bits)"},
    {-24002, 1, "Paris does not take more than one channel"},
    {-24001, 1, "can't find paf header in Paris file"},
    {-24000, 1, "Paris data format not recognised"},
    {-23906, 1, "has no header, and its name does not give its sample rate"},
    {-23905, 1, "output name extension does not give its sample rate"},
    {-23901, 1, "has a sample rate other than 8000 Hz (G.729)"},
    {-23900, 1, "has incompatible # channels"},
    {-23805, 1, "was padded with silence to whole packets of 64 frames (IMA 4:1)"},
    {-23804, 1, "IMA 4:1 does not take more than two channels"},
    {-23803, 1, "Cannot get soundconverter buffers, increase mem"},
    {-23801, 1, "No Soundmanager 3.2, Cannot convert to IMA 4:1 "},
    {-23800, 1, "this compression type is unsupported (AIFC)"},
    {-23704, 1, "has no SND chunk(Next/Sun alaw)"},
    {-23702, 1, "has no SND chunk(Next/Sun alaw)"},
    {-23701, 1, "has fragmented data (Next/Sun alaw)"},
    {-23700, 1, "Next/Sun alaw format not recognised"},
    {-23616, 1, "has a bit rate this MPEG layer cannot carry"},
    {-23614, 2, "MPEG codecs out of memory"},
    {-23613, 1, "has more than two channels (MPEG1)"},
    {-23612, 1, "is stereo: incompatible with this bitrate MPEG1 L II "},
    {-23611, 1, "is mono or split: MPEG1 L II bitrate too high"},
    {-23610, 1, "is stereo: incompatible with 32kBit MPEG1 L I"},
    {-23605, 2, "Disk full"},
    {-23604, 1, "has incompatible samplerate for MPEG"},
    {-23602, 1, "output path is too long for MPEG"},
    {-23601, 1, "output path is too long for MPEG"},
    {-23595, 1, "'/' in RealAudio filenames is illegal"},
    {-23594, 1, "the PNPlayer50.Lib is not installed"},
    {-23593, 1, "output path is too long for RealAudio"},
    {-23592, 1, "has incompatible samplerate (RealAudio)"},
    {-23591, 1, "selected RealAudio encoder was not found"},
    {-23590, 1, "RealAudio encoding and playing is not supported on 68k Macs"},
    {-23587, 1, "RealAudio: No RealAudio Codecs have been installed on your system."},
    {-23586, 1, "RealAudio: Player cannot receive UDP data packets from multicast session. "},
    {-23585, 1, "RealAudio: An error occured accessing a multicast session."},
    {-23584, 1, "RealAudio: An error occured attempting to join multicast session."},
    {-23583, 1, "RealAudio: An error occured accessing a temporary file."},
    {-23582, 1, "RealAudio: Invalid .RM stream"},
    {-23581, 1, "RealAudio: No seek possible (can be true for RealMedia files)"},
    {-23580, 1, "RealAudio: Protocol not supported by server"},
    {-23579, 1, "RealAudio: File is not a RIFF WAV file"},
    {-23574, 1, "RealAudio: An error occurred while initializing the RealAudio Daemon."},
    {-23572, 1, "RealAudio: This product is expired. Please upgrade to the latest version from http://www.real.com."},
    {-23571, 1, "RealAudio: Input file type not supported"},
    {-23570, 1, "RealAudio: Encoder output permission error"},
    {-23569, 1, "RealAudio: Input file not found."},
    {-23568, 1, "RealAudio: Output file not found."},
    {-23567, 1, "RealAudio: Invalid encoder."},
    {-23566, 1, "RealAudio: Invalid encoder sample rate"},
    {-23565, 1, "RealAudio: Invalid encoder sample size"},
    {-23564, 1, "RealAudio: Invalid number of encoder channels "},
    {-23563, 1, "RealAudio: Unknown file type"},
    {-23562, 1, "RealAudio: File is too small"},
    {-23561, 1, "RealAudio: the clip was previously closed."},
    {-23560, 1, "RealAudio: Blocking call was canceled."},
    {-23559, 1, "RealAudio: Open command have not been processed (to many connections opened)"},
    {-23558, 1, "RealAudio: the clip has reached the end or has been terminated"},
    {-23557, 1, "RealAudio: Not really an ERROR... This is a code used to indicate that the client did not request to recieve the notification."},
    {-23556, 1, "RealAudio: Error sending notification to client"},
    {-23555, 1, "RealAudio: Error locating Winsock Services"},
    {-23554, 1, "RealAudio: Invalid resource path string in requested URL."},
    {-23553, 1, "RealAudio: Invalid host string in requested URL."},
    {-23552, 1, "RealAudio: Invalid option specified in URL."},
    {-23551, 1, "RealAudio: Invalid protocol specified in URL."},
    {-23550, 1, "RealAudio: Cannot open audio device."},
    {-23549, 1, "RealAudio: Connection closed. The proxy is too old for this client."},
    {-23548, 1, "RealAudio: You need a newer client to access this proxy. Please upgrade."},
    {-23547, 1, "RealAudio: Proxy invalid response error"},
    {-23546, 1, "RealAudio: Proxy status error"},
    {-23545, 1, "RealAudio: Server alert"},
    {-23544, 1, "RealAudio: Client is being redirected to a new server."},
    {-23543, 1, "RealAudio: An error occurred during decoding."},
    {-23542, 1, "RealAudio: RealAudio Decoder was not initialized before attempting to use it."},
    {-23541, 1, "RealAudio: Requested RealAudio Decoder cannot be found or cannot be used on this machine."},
    {-23540, 1, "RealAudio: Decoder type mismatch. Cannot load the requested decoder."},
    {-23539, 1, "RealAudio: Invalid decoder."},
    {-23538, 1, "RealAudio: File compression not supported. Cannot locate the requested RealAudio decoder."},
    {-23537, 1, "RealAudio: RealAudio Decoder is initialized."},
    {-23536, 1, "RealAudio: Connection closed. The host's version of the RealAudio Server is too old for this client."},
    {-23535, 1, "RealAudio: You need a newer client to access this server. Please upgrade."},
    {-23534, 1, "RealAudio: Not a Progressive Networks Audio protocol server."},
    {-23533, 1, "RealAudio: You need a newer client to access this server. Please upgrade."},
    {-23532, 1, "RealAudio: Network operation would block."},
    {-23531, 1, "RealAudio: Cannot open the network drivers."},
    {-23530, 1, "RealAudio: Cannot resolve the requested network address."},
    {-23529, 1, "RealAudio: Server disconnected. The server may be too busy or not available at this time."},
    {-23528, 1, "RealAudio: Server timeout. Server not responding."},
    {-23527, 1, "RealAudio: Attempting to reconnect to the RealAudio server."},
    {-23526, 1, "RealAudio: Player cannot receive UDP data packets."},
    {-23525, 1, "RealAudio: An error occurred while writing data to the network."},
    {-23524, 1, "RealAudio: An error occurred while reading data from the network."},
    {-23523, 1, "RealAudio: Requested URL is not valid."},
    {-23522, 1, "RealAudio: Requested server is not valid."},
    {-23521, 1, "RealAudio: An error occurred while creating a network socket."},
    {-23520, 1, "RealAudio: An error occurred binding to network socket."},
    {-23519, 1, "RealAudio: An error occurred while trying to connect to the RealAudio Server."},
    {-23518, 1, "RealAudio: Invalid socket error."},
    {-23517, 1, "RealAudio: Cannot locate the requested interleaver."},
    {-23516, 1, "RealAudio: RealAudio file is missing the requested data chunk."},
    {-23515, 1, "RealAudio: Unknown data format."},
    {-23514, 1, "RealAudio: There is no document by that name available at the requested location."},
    {-23513, 1, "RealAudio: Invalid revision number in RealAudio file."},
    {-23512, 1, "RealAudio: Invalid RealAudio file version number."},
    {-23511, 1, "RealAudio: This document is not a RealAudio document."},
    {-23510, 1, "RealAudio: Not initialized."},
    {-23509, 1, "RealAudio: Invalid operation. Cannot process request."},
    {-23508, 1, "RealAudio: Invalid parameter. Unable to process request."},
    {-23507, 1, "RealAudio: Arrived at the end of the document."},
    {-23506, 1, "RealAudio: There is no data waiting to be processed."},
    {-23505, 1, "RealAudio: Paused"},
    {-23504, 1, "RealAudio: Deferring  request until after buffering is completed."},
    {-23503, 1, "RealAudio: Cannot process at interrupt level. Deferring request to system task level."},
    {-23502, 1, "RealAudio: Out of memory."},
    {-23501, 1, "RealAudio: General error. An error occurred"},
    {-23406, 1, "has incompatible wordSize (must be 8 or 16 bit)"},
    {-23405, 1, "has incompatible samplerate (must be under 48000Hz)"},
    {-23404, 1, "System 7 sounds with multiple data types are not supported"},
    {-23403, 1, "undocumented System 7 sound format"},
    {-23402, 1, "System 7 sounds other than sampled ones are not supported"},
    {-23401, 1, "System 7 sound format 2 is not supported"},
    {-23400, 1, "System 7 sound bigger than 16 MB"},
    {-23303, 1, "has bad Loop-Marker connection"},
    {-23302, 1, "lacks COMM chunk (AIFC)"},
    {-23301, 1, "lacks SSND chunk (AIFC)"},
    {-23300, 1, "lacks FORM chunk (AIFC)"},
    {-23207, 1, "has incompatible # channels"},
    {-23206, 1, "a predictor is out of range (MS ADPCM)"},
    {-23205, 1, "lacks fact chunk (MS ADPCM)"},
    {-23204, 1, "has unsupported data (MS ADPCM)"},
    {-23202, 1, "has bad DATA chunksize (MS ADPCM)"},
    {-23201, 1, "lacks FMT chunk (MS ADPCM)"},
    {-23200, 1, "lacks DATA chunk (MS ADPCM)"},
    {-23103, 1, "left file of split hase no right counterpart"},
    {-23102, 1, "left part of split not inited"},
    {-23101, 1, "right part of split not inited"},
    {-23100, 1, "split stereo file not consistent"},
    {-23015, 5, "was already processed with left file"},
    {-23003, 1, "has incompatible wordSize (must be 8 or 16 bit)"},
    {-23002, 1, "lacks 2BIT header (AVR)"},
    {-22904, 1, "has incompatible wordsize"},
    {-22903, 1, "has incompatible samplerate"},
    {-22902, 1, "has bad header (NeXT.au)"},
    {-22901, 1, "has fragmented data (NeXT.au)"},
    {-22900, 3, "has unsupported data (NeXT.au)"},
    {-22804, 3, "wordsize passed to create != 1 (8SVX)"},
    {-22803, 1, "has incompatible # channels"},
    {-22802, 1, "lacks FORM chunk (IFF/8SVX)"},
    {-22801, 1, "lacks BODY chunk (IFF/8SVX)"},
    {-22800, 1, "lacks VHDR chunk (IFF/8SVX)"},
    {-22706, 1, "has more valid bits than its sample words hold (WAVE)"},
    {-22705, 1, "has a block size that disagrees with its channels and word length (WAVE)"},
    {-22704, 1, "has bad DATA chunksize (WAVE)"},
    {-22703, 1, "lacks FMT chunk (WAVE)"},
    {-22702, 1, "lacks DATA chunk (WAVE)"},
    {-22701, 1, "has fragmented data (WAVE)"},
    {-22700, 1, "has unsupported data"},
    {-22604, 1, "has fragmented data (NeXT)"},
    {-22603, 1, "has incompatible wordsize"},
    {-22602, 1, "has bad header (NeXT/SUN)"},
    {-22601, 1, "has incompatible samplerate"},
    {-22600, 1, "has unsupported data (NeXT)"},
    {-22505, 1, "lacks word size string from resource fork (SDII)"},
    {-22504, 1, "lacks # channels string from resource fork (SDII)"},
    {-22503, 1, "lacks sample rate string from resource fork (SDII)"},
    {-22502, 1, "lacks resource fork (SDII)"},
    {-22501, 1, "has bad marker resource (SDII)"},
    {-22500, 1, "has bad loop resource (SDII)"},
    {-22406, 1, "lacks type 8 chunk (VOC SB)"},
    {-22405, 1, "lacks FMT chunk (VOC SB)"},
    {-22404, 3, "has incompatible wordsize"},
    {-22403, 1, "has incompatible samplerate"},
    {-22400, 1, "has no linear data (VOCSB)"},
    {-22305, 1, "has fragmented data (VOC)"},
    {-22304, 1, "lacks FMT chunk (VOC)"},
    {-22303, 1, "has incompatible samplerate"},
    {-22302, 1, "has incompatible # channels"},
    {-22301, 1, "has no linear data (VOC)"},
    {-22300, 3, "has incompatible wordsize"},
    {-22204, 1, "has too many chunks (AIFF)"},
    {-22203, 1, "has bad Loop-Marker connection"},
    {-22202, 1, "lacks COMM chunk (AIFF)"},
    {-22201, 1, "lacks SSND chunk (AIFF)"},
    {-22200, 1, "lacks FORM chunk (AIFF)"},
    {-22101, 1, "has incompatible wordSize (must be 8 or 16 bit)"},
    {-22100, 1, "has incompatible # channels"},
    {-22026, 0, "failed to create a temp file"},
    {-22024, 1, "its output was replaced by another program while it was written"},
    {-22023, 1, "has less sound data than one frame"},
    {-22022, 1, "has a file name that is not valid UTF-8"},
    {-22021, 1, "name was not extended, it was too long"},
    {-22018, 1, "original of alias was not found"},
    {-22017, 1, "CreateSoundfile failed (-22017)"},
    {-22015, 1, "lacks its split counterpart"},
    {-22011, 3, "no disk file"},
    {-22010, 1, "has empty dataFork"},
    {-22009, 1, "has corrupt chunksize"},
    {-22008, 1, "has unknown file format"},
    {-22007, 3, "No valid sampler info"},
    {-22006, 3, "Wrong channel specified"},
    {-22005, 3, "File not opened"},
    {-22004, 3, "Chunk not in file"},
    {-22003, 2, "No buffer allocated"},
    {-22002, 3, "Wrong region specified"},
    {-22001, 3, "Wrong loop specified"},
    {-22000, 3, "Wrong marker specified"},
    {-21005, 1, "sample word size is not supported for playback"},
    {-21004, 2, "Could not create pointer/handle"},
    {-21003, 1, "was aliased to something within itself"},
    {-21002, 2, "Output folder has vanished"},
    {-21001, 2, "Outputfolder was located in inputfolder"},
    {-20032, 1, "Not enough RAM for fade in and out, increase mem"},
    {-20029, 2, "User stopped Quillmarch"},
    {-20025, 1, "has more than two channels : no gain change"},
    {-20020, 1, "has unsupported wordsize"},
    {-20008, 1, "would yield a fragmented vocfile"},
    {-20003, 3, "No next region found"},
    {-20002, 3, "No block of regions found"},
    {-20001, 3, "Wrong channel specified"},
    {-20000, 1, "lacks regions to extract/compact"},
    {-2019, 2, "User cancelled conversion"},
    {-1409, 1, "lacks its resource fork"},
    {-1310, 1, "is too big for the output file type"},
    {-1302, 1, "is not a regular file"},
    {-199, 1, "has a damaged resource fork"},
    {-193, 1, "lacks its resource fork"},
    {-190, 1, "has a damaged resource fork"},
    {-128, 2, "User cancelled conversion"},
    {-120, 1, "folder not found"},
    {-108, 2, "Out of memory"},
    {-61, 1, "write permission denied"},
    {-54, 1, "permission denied"},
    {-51, 1, "bad file reference"},
    {-49, 1, "is already open"},
    {-48, 1, "duplicate filename error"},
    {-47, 1, "file is busy"},
    {-46, 1, "volume is locked"},
    {-45, 1, "file is locked"},
    {-44, 1, "volume is write-protected"},
    {-43, 2, "Expected input file not found"},
    {-42, 1, "too many files open"},
    {-40, 1, "was accessed before its start"},
    {-39, 1, "unexpected end of file"},
    {-38, 1, "file is not open"},
    {-37, 1, "has too long a name for .L/.R"},
    {-36, 1, "I/O error"},
    {-35, 1, "volume not found"},
    {-34, 2, "Disk full"},
    {-33, 1, "folder is full"},
    {25000, 1, "corrupt CCITT G.729 file"},
    {25001, 1, "not recognized as a CCITT G.729 file"},
};

constexpr bool table_is_sorted_and_unique()
{
    for (size_t i = 1; i < std::size(kErrorTable); ++i)
        if (!(kErrorTable[i - 1].code < kErrorTable[i].code))
            return false;
    return true;
}
static_assert(table_is_sorted_and_unique(), "the error table must be sorted by code");

constexpr bool messages_fit_pascal_strings()
{
    for (const auto& entry : kErrorTable)
        if (std::char_traits<char>::length(entry.message) > 255)
            return false;
    return true;
}
static_assert(messages_fit_pascal_strings(), "every message must fit a Str255");

} // namespace

const ErrorTableEntry* FindErrorTableEntry(int32_t code)
{
    const auto* end = std::end(kErrorTable);
    const auto* it = std::lower_bound(std::begin(kErrorTable), end, code,
                                      [](const ErrorTableEntry& e, int32_t c) { return e.code < c; });
    return it != end && it->code == code ? it : nullptr;
}

int GetErrorPString(int32_t code, unsigned char message[256])
{
    const ErrorTableEntry* entry = FindErrorTableEntry(code);
    if (entry == nullptr) {
        if (message != nullptr)
            message[0] = 0;
        return kErrorClassNone;
    }
    if (message != nullptr) {
        const size_t length = std::min<size_t>(strlen(entry->message), 255);
        message[0] = static_cast<unsigned char>(length);
        memcpy(message + 1, entry->message, length);
    }
    return entry->message_class;
}

ErrorMessage LookupErrorMessage(int32_t code)
{
    const ErrorTableEntry* entry = FindErrorTableEntry(code);
    if (entry == nullptr)
        return {};
    return {entry->message, entry->message_class};
}

const ErrorTableEntry* ErrorTableBegin()
{
    return std::begin(kErrorTable);
}

const ErrorTableEntry* ErrorTableEnd()
{
    return std::end(kErrorTable);
}
