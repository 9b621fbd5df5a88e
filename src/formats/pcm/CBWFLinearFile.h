// CBWFLinearFile: uncompressed Broadcast Wave files (type 'BWLN',
// "Uncompressed Broadcast Wave"): a WAVE file with a 'bext' chunk right
// after its 'fmt ' chunk and the program's 'regn' region chunk (numbers
// little-endian) at the end.
//
// 'bext' (866 bytes with its header): Description (the annotation, 256),
// Originator (32), OriginatorReference (32), OriginationDate (10) and
// OriginationTime (8) as every Broadcast Wave output gives them
// (bext_origin.h), TimeReference (64 bits: the file's time stamp in
// frames), Version (2),
// UMID (64), reserved (190), CodingHistory (256).
//
// Regions travel in 'regn' (names, sync frames and 64-bit time stamps);
// markers, loops and sampler data in the 'cue '/'LIST', 'smpl' and 'inst'
// chunks of the WAVE class.  Reading also takes regions from 'cue '/'ltxt'.
// A file without 'bext' is refused (-22004).  The annotation read is kept
// in the specifics under "bwfAnnotation".
#pragma once

#include "CWAVEFile.h"
#include "SoundFileTypeDescriptor.h"
#include "bext_origin.h"

#include <QByteArray>

class CBWFLinearFile : public CWAVEFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CBWFLinearFile() = default;
    ~CBWFLinearFile() override;

    // The annotation is the zero-terminated text at byte 22 of the
    // file-type specifics (when given).
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

    // The number of entries of the 'regn' chunk (what ProbeHeader reports).
    OSErr CountRegionTexts(SInt16* count) override;
    OSErr WriteFmtChunk() override;
    OSErr WriteExtensibleFmtChunk() override;
    OSErr WriteExtraChunks() override;

    OSErr CountRegions(SInt16* count);
    OSErr WriteBEXT();
    OSErr ReadBEXT();
    OSErr ReadRegions();
    OSErr WriteRegions();

    const QByteArray& GetAnnotation() const { return m_annotation; }
    void SetAnnotation(const QByteArray& annotation) { m_annotation = annotation; }

protected:
    bool WritesRegionCues() const override { return false; }
    void ProbeExtraChunks() override;
    void OpenChunks() override;

private:
    std::vector<UInt8> BuildBEXT() const;

    QByteArray m_annotation;
    BextOrigin m_origin = BextOrigin::Now();
};
