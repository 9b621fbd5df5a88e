// The per-type setting checks: the callbacks that the file-type table puts
// into the dispatchers of the types that accept only some word lengths,
// channel treatments or sample rates, or that keep extra choices (stereo
// mode, byte order, sample packing, a name extension) in the conversion's
// 256-byte per-type block.
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

// Per-type block offsets read here.
constexpr int kMP3RequiredSampleRateOffset = 60; // QuickTime MP3: big-endian SInt32

// --------------------------------------------- mono-only channel checks
SInt16 CCITTChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 DawnAIFFFileChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 DialogicADPCMFileChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 DialogicALawFileChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 DialogicULawFileChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 DialogicVAPFileChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);

// ------------------------- name extension chosen by the sample-rate popup
// Tag 17 (8000 Hz in the editor's rate table) and 18 (6000 Hz).
SInt16 DialogicADPCMFileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 DialogicALawFileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 DialogicULawFileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 PikaADPCMFileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);
// Index 0 "pc8", 1 to 3 "p16".
SInt16 DialogicPCMFileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);

// ------------------------------------------------------ MPEG stereo mode
SInt16 BWFMPEGFileChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 MPEG2FileChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 MPEG1FileChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 DropMP3FileChannelSettings(CConvSpec* spec, int index, const QString& title, int tag);
int BWFMPEGFileChannelHandlingPopupIndex(CConvSpec* spec);
int MPEG2FileChannelHandlingPopupIndex(CConvSpec* spec);
int MPEG1FileChannelHandlingPopupIndex(CConvSpec* spec);
int DropMP3FileChannelHandlingPopupIndex(CConvSpec* spec);
QString MPEG1FileLogChannelSettings(CConvSpec* spec);
QString MPEG2FileLogChannelSettings(CConvSpec* spec);

// ------------------------------------------- MPEG and MP3 bit-rate checks
SInt16 DropMP3FileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 MPEG1FileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);

// ------------------------------------ byte order, sample kind and packing
SInt16 ParisLinearFileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
int ParisLinearFileWordLengthPopupIndex(CConvSpec* spec);
SInt16 QTIntFloatFileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
int QTIntFloatFileWordLengthPopupIndex(CConvSpec* spec);
SInt16 SonicAIFFFileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
int SonicAIFFFileWordLengthPopupIndex(CConvSpec* spec);

// ------------------------------------------------------ sample-rate rules
SInt16 QTMP3FileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 QTMP4FileWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 QTMP4FileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);
SInt16 VOCFileSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag);

// ------------------------------------------------ log word-length texts
QString QTAIFFImaFileLogWordLength(CConvSpec* spec);
QString DialogicADPCMFileLogWordLength(CConvSpec* spec);
QString DialogicVAPFileLogWordLength(CConvSpec* spec);
QString MSADPCMFileLogWordLength(CConvSpec* spec);
QString PikaADPCMFileLogWordLength(CConvSpec* spec);
QString QTIMAFileLogWordLength(CConvSpec* spec);
QString DialogicALawFileLogWordLength(CConvSpec* spec);
QString NeXTALawFileLogWordLength(CConvSpec* spec);
QString QTAlawFileLogWordLength(CConvSpec* spec);
QString DialogicULawFileLogWordLength(CConvSpec* spec);
QString NeXTAUFileLogWordLength(CConvSpec* spec);
QString QTUlawFileLogWordLength(CConvSpec* spec);
QString MPEG1FileLogWordLength(CConvSpec* spec);
QString MPEG2FileLogWordLength(CConvSpec* spec);
QString QTQDesignRavesoundFileLogWordLength(CConvSpec* spec);
QString QTQDesignProFileLogWordLength(CConvSpec* spec);
QString QTQDesignPro2FileLogWordLength(CConvSpec* spec);
QString QTQualcommPurevoiceFileLogWordLength(CConvSpec* spec);
QString QTMACE3FileLogWordLength(CConvSpec* spec);
QString QTMACE6FileLogWordLength(CConvSpec* spec);
QString QTIntFloatFileLogWordLength(CConvSpec* spec);
QString SonicAIFFFileLogWordLength(CConvSpec* spec);
