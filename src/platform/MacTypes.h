// The basic Mac types and the result codes that the platform layer hands
// back, so that code above it reads as it would on the Mac.
#pragma once

#include <cstdint>
#include <string>

extern "C++" {

// ---------------------------------------------------------------- integers
typedef uint8_t  UInt8;
typedef int8_t   SInt8;
typedef uint16_t UInt16;
typedef int16_t  SInt16;
typedef uint32_t UInt32;
typedef int32_t  SInt32;
typedef uint64_t UInt64;
typedef int64_t  SInt64;

typedef unsigned char Boolean;       // 0 false, anything else true
typedef unsigned long ByteCount;     // 64 bits here
typedef UInt16 UniChar;              // one UTF-16 code unit
typedef unsigned long UniCharCount;
typedef UInt32 TextEncoding;
typedef SInt16 ScriptCode;
typedef SInt16 FSVolumeRefNum;
typedef SInt16 FSIORefNum;           // an open fork (file reference number)

enum : SInt16 { smSystemScript = -1, smRoman = 0 };
enum : TextEncoding { kTextEncodingUnknown = 0xFFFF };

// ---------------------------------------------------------- result codes
typedef SInt16 OSErr;
typedef SInt32 OSStatus;

// ----------------------------------------------------- four-char codes
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;

// ----------------------------------------------------- Pascal strings
// A length byte followed by that many Mac OS Roman bytes; no terminator.
typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str32[33];
typedef unsigned char Str31[32];
typedef unsigned char Str27[28];
typedef unsigned char Str15[16];
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStringPtr;
typedef const unsigned char* ConstStr255Param;
typedef const unsigned char* ConstStr63Param;
typedef const unsigned char* ConstStr31Param;

struct Point {
    SInt16 v;
    SInt16 h;
};

// ------------------------------------------------------- result codes
// The codes the platform layer produces (and a few callers test for).
constexpr OSErr noErr = 0;
constexpr OSErr unimpErr = -4;          // call not implemented here
constexpr OSErr dirFulErr = -33;        // folder full
constexpr OSErr dskFulErr = -34;        // disk full (ENOSPC, EDQUOT)
constexpr OSErr nsvErr = -35;           // no such volume
constexpr OSErr ioErr = -36;            // I/O error; also every unmapped errno
constexpr OSErr bdNamErr = -37;         // bad file name (empty, '/', too long)
constexpr OSErr fnOpnErr = -38;         // file not open
constexpr OSErr eofErr = -39;           // end of file (short read, seek past end)
constexpr OSErr posErr = -40;           // position before the start of the file
constexpr OSErr mFulErr = -41;          // memory full
constexpr OSErr tmfoErr = -42;          // too many files open
constexpr OSErr fnfErr = -43;           // file not found
constexpr OSErr wPrErr = -44;           // write-protected volume (EROFS)
constexpr OSErr fLckdErr = -45;         // file locked
constexpr OSErr vLckdErr = -46;         // volume locked
constexpr OSErr fBsyErr = -47;          // file busy; folder not empty
constexpr OSErr dupFNErr = -48;         // file already exists
constexpr OSErr opWrErr = -49;          // file already open for writing
constexpr OSErr paramErr = -50;         // bad parameter
constexpr OSErr rfNumErr = -51;         // unknown reference number
constexpr OSErr permErr = -54;          // permission denied
constexpr OSErr wrPermErr = -61;        // write to a fork opened read-only
constexpr OSErr memFullErr = -108;      // out of memory
constexpr OSErr dirNFErr = -120;        // folder not found
constexpr OSErr wrgVolTypErr = -123;    // wrong volume type
constexpr OSErr userCanceledErr = -128; // the user cancelled
constexpr OSErr notAFileErr = -1302;    // a folder where a file was expected
constexpr OSErr fsDataTooBigErr = -1310;        // value does not fit a 32-bit form
constexpr OSErr errFSBadFSRef = -1401;          // empty or unreadable FSRef
constexpr OSErr errFSBadForkName = -1402;       // fork name neither data nor resource
constexpr OSErr errFSForkNotFound = -1409;      // the file has no resource fork
constexpr OSErr errFSNameTooLong = -1410;
constexpr OSErr errFSBadPosMode = -1412;        // positioning mode not 0..3
constexpr OSErr errFSForkExists = -1421;        // the resource fork exists already
constexpr OSErr errFSOperationNotSupported = -1426; // e.g. no user xattrs on this file system
constexpr OSErr errFSAttributeNotFound = -1427;     // the extended attribute is not set
constexpr OSErr afpAccessDenied = -5000;

// A malformed AppleDouble sidecar (entry outside the file, bad counts).
// The Mac reports unreadable catalog data as an I/O error; so do we.
constexpr OSErr kAppleDoubleMalformedErr = ioErr;

// ------------------------------------------------- four-char helpers
// 'FORM' from "FORM": the first four bytes, big-endian order; a shorter
// text is padded with NUL bytes.  Bytes count as unsigned (0xA9 stays 169).
FourCharCode FourCharCodeFromString(const std::string& text);
// The four bytes of the code, most significant first (NUL bytes kept, so
// the result is always 4 bytes long).
std::string FourCharCodeToString(FourCharCode code);
// For traces and test messages: "'FORM'", with bytes outside 0x20..0x7E
// written as \xHH.
std::string FourCharCodeToDisplay(FourCharCode code);

// Compile-time code from a four-character literal: FOUR_CHAR_CODE("FORM").
constexpr FourCharCode FOUR_CHAR_CODE(const char (&s)[5])
{
    return (FourCharCode(UInt8(s[0])) << 24) | (FourCharCode(UInt8(s[1])) << 16) |
           (FourCharCode(UInt8(s[2])) << 8) | FourCharCode(UInt8(s[3]));
}

} // extern "C++"
