// Process-wide switches of the sound-file layer, pushed in from the user
// defaults by the application (and the batch command) at start-up, before
// any worker thread runs.  Every switch is off until it is set.  Reads and
// writes are atomic, so a late change from the main thread is harmless.
#pragma once

// "Process File If No Regions": formats add one whole-file region to a file
// that has none (CSoundFile::AddFileRegion and a few format readers).
void SetProcessFileIfNoRegions(bool on);
bool GetProcessFileIfNoRegions();

// "Skip Bad Region": the switch is on only when the default's value is 1.
// While it is off, readers make region names unique after reading them.
void SetSkipBadRegion(long value);
bool GetSkipBadRegion();

// "Ignore Regions Containing Whole File": region readers drop regions that
// cover the whole file.
void SetIgnoreRegionsContainingWholeFile(bool on);
bool GetIgnoreRegionsContainingWholeFile();

// "Recognize number files as split": split-set grouping also looks for
// numbered sets (Mix.1.wav, Mix.2.wav, ...).
void SetRecognizeNumberFilesAsSplit(bool on);
bool GetRecognizeNumberFilesAsSplit();
