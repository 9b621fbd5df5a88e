#include "CPikaADPCMFile.h"

CPikaADPCMFile::CPikaADPCMFile()
    : CDialogicADPCMFile({FOUR_CHAR_CODE("PADP"), "Pika ADPCM (no header)", true, false, "pika",
                          "encoding to Pika ADPCM file"})
{
}
