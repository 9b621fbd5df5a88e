// A stand-in for the MP3 encoder that holds a batch still, for tests that
// act on a batch that provably runs (the batch command's, the
// application's).
#pragma once

#include <QString>

// Writes `folder`/lame: it answers the version question (3.100); an
// encoding run reports 42% done, writes its process id into
// `folder`/encoding, then waits until `folder`/release exists and leaves
// without writing (the file then fails).  False when it cannot be written.
bool WriteHeldEncoderScript(const QString& folder);
