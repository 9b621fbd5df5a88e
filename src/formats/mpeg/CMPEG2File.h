// CMPEG2File: MPEG-1 Layer II output ('MPG2', "MPEG-1 Layer II ('MP2')");
// CMPEG1File with the Layer II encoder.
#pragma once

#include "CMPEG1File.h"
#include "SoundFileTypeDescriptor.h"

class CMPEG2File : public CMPEG1File {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    OSType GetFileType() const override;
    QString GetFormatName() const override;

protected:
    int Layer() const override { return 2; }
};
