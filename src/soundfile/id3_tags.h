// Reading the ID3 tags of MP3 inputs, so that a conversion can carry them to
// its output: the ID3v2 tag at the start of the file as one uninterpreted
// block, and the 128-byte ID3v1 record at its end.
//
// The readers only read and seek; they leave the stream where their last
// read ended.  Every size read from the file is checked against the file's
// length: a tag never makes an allocation larger than the file holds.
#pragma once

#include "MacTypes.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <istream>

class CSoundFile;

constexpr UInt32 kID3v2HeaderSize = 10;
constexpr UInt32 kID3v1RecordSize = 128;

// Positions the stream at 0 and reads the 10 header bytes into `header`;
// true when both succeeded and the bytes begin with "ID3".
bool HasID3v2Header(std::istream& in, UInt8 header[kID3v2HeaderSize]);
bool HasID3v2Header(CSoundFile* file, UInt8 header[kID3v2HeaderSize]);

// The ID3v2 tag: the 10 header bytes followed by the tag's bytes (and, for
// a version 4 tag that announces one, its 10-byte footer), in one block
// allocated with malloc that the caller frees with free.  *size gets the
// block's length.  Null, with *size untouched, when the file has no valid
// tag: no "ID3" header, or size bytes with their top bit set (not a 28-bit
// synchsafe number).  A tag that claims more bytes than the file holds is
// cut at the end of the file, and the size bytes (and footer flag) in the
// block's header are rewritten to what the block really holds.  Null with
// *size set when the allocation fails.
void* ReadID3v2Tag(std::istream& in, UInt32* size);
void* ReadID3v2Tag(CSoundFile* file, UInt32* size);
// The same block as a byte array (empty when there is none).
QByteArray ReadID3v2TagData(std::istream& in);
QByteArray ReadID3v2TagData(CSoundFile* file);

// Reads the last 128 bytes of the stream into `record`; true when the file
// holds them and they begin with "TAG".
bool ReadID3v1Tag(std::istream& in, UInt8 record[kID3v1RecordSize]);
bool ReadID3v1Tag(CSoundFile* file, UInt8 record[kID3v1RecordSize]);

// The fields of an ID3v1 record.  Texts are ISO 8859-1, cut at their first
// NUL and stripped of trailing blanks (the comment of an ID3v1.1 record thus
// stops before its track number).  genre is -1 for 255, which means "no
// genre"; else 0..254.
struct ID3v1Fields {
    QString title;      // 30 bytes from byte 3
    QString performer;  // 30 bytes from byte 33
    QString album;      // 30 bytes from byte 63
    QString year;       // 4 bytes from byte 93
    QString comment;    // 30 bytes from byte 97
    int genre = -1;     // byte 127
};
ID3v1Fields ParseID3v1Record(const UInt8 record[kID3v1RecordSize]);

// The record as the batch keeps it under "id3tags": "Title", "performer",
// "Album", "Recording time", "Comment" (texts, present also when empty) and
// "Content type" (the genre number; absent when there is no genre).
QVariantMap ID3v1TagDictionary(const UInt8 record[kID3v1RecordSize]);
