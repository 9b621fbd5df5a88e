// CDescribedFile<Base>: Open and ProbeHeader for the coded files whose
// opening is one step, OpenAndDescribe (open the data fork, read what
// describes the audio).  Open closes the file again when that step fails
// and adds the whole-file region when it succeeds; ProbeHeader runs the
// step and closes the file, reporting no regions.  `Base` is the sound-file
// class the format derives from.
#pragma once

#include "open_steps.h"

template <class Base>
class CDescribedFile : public Base {
public:
    OSErr Open() override
    {
        if (const OSErr err = OpenAndDescribe())
            return CloseAfterFailedOpen(err, this->m_isOpen, this->m_refNum);
        this->AddFileRegion();
        return noErr;
    }

    OSErr ProbeHeader(SInt16* result) override
    {
        if (result)
            *result = 0;
        return CloseAfterProbe(OpenAndDescribe(), this->m_isOpen, this->m_refNum);
    }

protected:
    // Opens the data fork and describes the audio; on an error the fork may
    // be left open (the callers close it).
    virtual OSErr OpenAndDescribe() = 0;
};
