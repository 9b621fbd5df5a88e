// The setting rules no entry of the file-type dictionary can say as data
// (TypeSettingRules says the rest): two settings that must agree (an MPEG
// Layer I bit rate and stereo, an AAC bit rate and its rates, the MP3
// codec's rate, a Creative Voice time constant), and word-length items
// whose choice is packed into the conversion's 256-byte per-type block
// beside the word length (byte order, sample kind, packing).  A type's
// entry names its rule under "settingHook".
//
// Settings handlers take (conversion, popup index, selected item's title,
// selected item's tag) and return 0 when they handled the choice, -50 for
// a choice they do not know.  Their verdicts go into the conversion's
// specifics in pairs: "...Valid" (boolean) and, only when NO, the message.
// A handler never throws.
//
// Popup-index functions give the item of a popup that shows the stored
// conversion (-1: none); log functions give the conversion log's wording.
#pragma once

#include "MacTypes.h"

#include <QString>

class CConvSpec;
class ConvSpec;

// ------------------------------------------------------- verdict keys
extern const QString kChannelHandlingValidKey;          // "channelHandlingValid"
extern const QString kChannelHandlingInvalidMessageKey; // "channelHandlingInvalidMessage"
extern const QString kWordSizeValidKey;                 // "wordSizeValid"
extern const QString kWordSizeValidMessageKey;          // "wordSizeValidMessage"
extern const QString kSampleRateValidKey;               // "sampleRateValid"
extern const QString kSampleRateInvalidMessageKey;      // "sampleRateInvalidMessage"

// The two MPEG stereo modes as the per-type block holds them at offset 0:
// a Pascal string of 20 characters (the joint one padded with blanks).
extern const char kMPEGJointStereoMode[];    // "MPEG joint stereo   "
extern const char kMPEGSeparateStereoMode[]; // "MPEG separate stereo"
// Stores one of them in the block.
void StoreStereoMode(CConvSpec* spec, const char* mode);

// Writes a verdict pair: the boolean always, the message only when NO (an
// older message is left alone when the choice is valid).
void WriteSettingVerdict(ConvSpec* spec, const QString& validKey, const QString& messageKey, bool valid,
                         const QString& message);

// Per-type block offsets read here.
constexpr int kMP3RequiredSampleRateOffset = 60; // QuickTime MP3: big-endian SInt32

// ------------------------------------------------------------- the rules
// The callbacks of one rule; empty ones leave the setting to the data.
struct SettingHook {
    SInt16 (*wordLength)(CConvSpec* spec, int index, const QString& title, int tag) = nullptr;
    SInt16 (*channel)(CConvSpec* spec, int index, const QString& title, int tag) = nullptr;
    SInt16 (*sampleRate)(CConvSpec* spec, int index, const QString& title, int tag) = nullptr;
    int (*wordLengthIndex)(CConvSpec* spec) = nullptr;
    QString (*logWordLength)(CConvSpec* spec) = nullptr;
};

// The rule an entry names ("layerIBitRate", "aacRates", "mp3CodecRate",
// "vocTimeConstant", "parisByteOrder", "intFloatLayout", "sonicPacking",
// "purevoiceRate"); null for an empty or unknown name.
const SettingHook* FindSettingHook(const QString& name);

// ---------------------------------------------- MPEG Layer I: 32 kbit/s
// A bit rate of 32 kbit/s is for mono only: the word-length verdict (a bit
// rate must be set too) and the channel verdict.
SInt16 MPEG1FileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 MPEG1FileChannelBitRateSettings(CConvSpec* spec, int index, const QString& title, int tag);

// ------------------------------------ byte order, sample kind and packing
SInt16 ParisLinearFileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
int ParisLinearFileWordLengthPopupIndex(CConvSpec* spec);
SInt16 QTIntFloatFileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
int QTIntFloatFileWordLengthPopupIndex(CConvSpec* spec);
QString QTIntFloatFileLogWordLength(CConvSpec* spec);
SInt16 SonicAIFFFileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
int SonicAIFFFileWordLengthPopupIndex(CConvSpec* spec);
QString SonicAIFFFileLogWordLength(CConvSpec* spec);

// ------------------------------------------------ rates and their partners
SInt16 QTMP3FileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 QTMP4FileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 QTMP4FileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 VOCFileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);

// -------------------------------------------------------- PureVoice rate
// The log's word length: the half or full rate the word length names.
QString QTQualcommPurevoiceFileLogWordLength(CConvSpec* spec);
