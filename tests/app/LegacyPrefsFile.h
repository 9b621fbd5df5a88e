// Builds preferences files of the previous major version for the import
// tests and its fuzz target: 386-byte conversion records as 'Libs'
// resources, written with our Resource Manager either into the file's
// resource fork (sidecar) or as a bare resource fork in the data fork.
#pragma once

#include "FileManager.h"
#include "MemoryManager.h"
#include "ResourceManager.h"

#include <QByteArray>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace legacy_prefs {

struct Record {
    std::string name;
    QByteArray data;
};

inline void Put16(QByteArray& r, int at, unsigned v)
{
    r[at] = char(v >> 8);
    r[at + 1] = char(v);
}
inline void Put32(QByteArray& r, int at, unsigned v)
{
    Put16(r, at, v >> 16);
    Put16(r, at + 2, v & 0xFFFF);
}
inline void PutFloat(QByteArray& r, int at, float f)
{
    unsigned bits;
    std::memcpy(&bits, &f, 4);
    Put32(r, at, bits);
}

// A record: output type, sample rate with conversion on, fades on, a
// name extension given with the length byte `extensionLength` (the field
// holds 31 characters), `strict` forcing the output type.
inline QByteArray MakeRecord(unsigned type, float rate, bool strict = false, int extensionLength = 3)
{
    QByteArray r(386, '\0');
    Put16(r, 6, strict ? 1 : 0);
    Put32(r, 8, type);
    Put16(r, 14, 1);
    PutFloat(r, 16, 250.0f);
    Put16(r, 24, 1);
    PutFloat(r, 26, rate);
    Put16(r, 338, 1);
    r[340] = char(extensionLength);
    for (int i = 0; i < 45 && 341 + i < 372; ++i)
        r[341 + i] = char('a' + i % 26);
    return r;
}

// Writes `records` as 'Libs' resources 128, 129 ... of `path` (created);
// in the data fork when `bareFork`, else in the resource fork.
inline bool WritePrefs(const std::string& path, const std::vector<Record>& records, bool bareFork)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).flush();
    FSRef ref;
    if (FSPathMakeRef(path, &ref) != noErr)
        return false;
    ResFileRefNum refNum = -1;
    if (bareFork) {
        if (InitResourceFork(&ref, 0, nullptr) != noErr || FSOpenResourceFile(&ref, 0, nullptr, fsRdWrPerm, &refNum))
            return false;
    } else {
        HFSUniStr255 rsrc;
        FSGetResourceForkName(&rsrc);
        if (InitResourceFork(&ref, rsrc.length, rsrc.unicode) != noErr
            || FSOpenResourceFile(&ref, rsrc.length, rsrc.unicode, fsRdWrPerm, &refNum) != noErr)
            return false;
    }
    SInt16 id = 128;
    for (const Record& r : records) {
        Handle h = nullptr;
        if (PtrToHand(r.data.constData(), &h, Size(r.data.size())) != noErr)
            return false;
        Str255 name;
        name[0] = UInt8(std::min<std::size_t>(r.name.size(), 255));
        std::memcpy(name + 1, r.name.data(), name[0]);
        AddResource(h, FOUR_CHAR_CODE("Libs"), id++, name);
        if (ResError() != noErr)
            return false;
    }
    CloseResFile(refNum);
    return ResError() == noErr;
}

// The bytes of a bare fork holding `records`, made through a scratch file.
inline std::string BareForkBytes(const std::string& scratchPath, const std::vector<Record>& records)
{
    if (!WritePrefs(scratchPath, records, true))
        return std::string();
    std::ifstream in(scratchPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace legacy_prefs
