// What keeps a conversion from ever running, whatever its inputs: the
// check both front ends make before a batch (the batch command on a
// conversions file and on the stored conversions, the application's Start
// and its editor's verdict).  What depends on the input is checked per file
// (PreConversionCheck.h).
//
// Refused here:
//   - a shape the output type cannot hold where the conversion alone
//     decides it (OutputCapabilities.h): a rate, a rate left unconverted for
//     a type whose files do not record it, the channels a treatment makes, a
//     word length (or bit rate) the type does not offer, a word length left
//     to the input for a type that needs one of its own, a bit rate the
//     type's stereo or mono files cannot have;
//   - a channel treatment outside 0 to 8, and the stereo modes 7 and 8 for
//     a type that takes no stereo mode;
//   - compacting together with region extraction;
//   - a snip range that ends before it starts.
// Each problem is one line naming the keys to set and the values allowed.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class ConvSpec;

class ConversionCheck {
public:
    // Whether a key was written by the user (a key left out gets a note
    // that its value is the default).  Empty: every key was.
    using KeyGiven = std::function<bool(const QString& key)>;

    // Every problem of `spec`, empty when it can run.  Call it after
    // start-up has built the file-type table.
    static QStringList problems(const ConvSpec& spec, const KeyGiven& given = {});
};
