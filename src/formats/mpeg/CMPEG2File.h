// CMPEG2File: MPEG-1 Layer II output ('MPG2', "MPEG-1 Layer II ('MP2')");
// CMPEG1File with the Layer II encoder.
#pragma once

#include "CMPEG1File.h"

class CMPEG2File : public CMPEG1File {
public:
    OSType GetFileType() const override;
    QString GetFormatName() const override;

protected:
    int Layer() const override { return 2; }
};
