// Every key of the user defaults (the preferences file), named once for the
// engine, the batch command, the application and the player.  The values
// each key takes, and its registered default, are the engine start-up's
// (EngineStartup::registeredDefaults); keys below "Kept by the application"
// are written by the program itself and not registered.
#pragma once

#include <QString>

namespace PreferenceKeys {

// Regions and split sets (read at start-up).
inline const QString kIgnoreRegionsContainingWholeFile = QStringLiteral("Ignore Regions Containing Whole File");
inline const QString kRecognizeNumberFilesAsSplit = QStringLiteral("Recognize number files as split");
inline const QString kProcessFileIfNoRegions = QStringLiteral("Process File If No Regions");
inline const QString kSkipBadRegion = QStringLiteral("Skip Bad Region");

// The batch.
inline const QString kEasyThru = QStringLiteral("Easy Thru");
inline const QString kNumberDuplicateFiles = QStringLiteral("Number Duplicate Files");
inline const QString kPreserveFinderComments = QStringLiteral("Preserve Finder Comments");
inline const QString kCopyAllFiles = QStringLiteral("Copy All Files");
inline const QString kConversions = QStringLiteral("Conversions");
inline const QString kCustomSampleRates = QStringLiteral("Custom Sample Rates");

// The log and the end of a batch.
inline const QString kSaveLog = QStringLiteral("Save Log");
inline const QString kOnlySaveWhenErrors = QStringLiteral("Only Save When Errors");
inline const QString kOpenLog = QStringLiteral("Open Log");
inline const QString kOnlyOpenWhenErrors = QStringLiteral("Only Open When Errors");
inline const QString kBeepWhenDone = QStringLiteral("Beep When Done");
inline const QString kFullPathsIntoLog = QStringLiteral("Full Paths Into Log");
inline const QString kNumberOfFilesEverConverted = QStringLiteral("Number of Files Ever Converted");

// Headerless ("unrecognized") input files.
inline const QString kUnrecognizedInputFileAction = QStringLiteral("Unrecognized Input File Action");
inline const QString kUnrecognizedInputFileType = QStringLiteral("Unrecognized Input File Type");
inline const QString kUnrecognizedInputFileBigEndian = QStringLiteral("Unrecognized Input File Big Endian");
inline const QString kUnrecognizedInputFileSampleRate = QStringLiteral("Unrecognized Input File Sample Rate");
inline const QString kUnrecognizedInputFileWordSize = QStringLiteral("Unrecognized Input File Word Size");
inline const QString kUnrecognizedFileNumChannels = QStringLiteral("QMUnrecognizedFileNumChannels");

// The lists' sorting.
inline const QString kInputFilesSortKey = QStringLiteral("Input Files Sort Key");
inline const QString kInputFilesSortAscending = QStringLiteral("Input Files Sort Ascending");
inline const QString kConvSpecsSortKey = QStringLiteral("ConvSpecs Sort Key");
inline const QString kConvSpecsSortAscending = QStringLiteral("ConvSpecs Sort Ascending");

// Playback.
inline const QString kBlipAtEnd = QStringLiteral("Blip At End");
inline const QString kVarispeed = QStringLiteral("Varispeed");
inline const QString kAutoPlayNext = QStringLiteral("Auto Play Next");

// Kept by the application.
inline const QString kLastUsedDestination = QStringLiteral("Last Used Destination");
inline const QString kLastUsedLog = QStringLiteral("Last Used Log");
inline const QString kPlaybackVolume = QStringLiteral("Playback Volume");
inline const QString kMailProgram = QStringLiteral("Mail Program");
inline const QString kInputTableColumns = QStringLiteral("Input Table Columns");
inline const QString kConversionTableColumns = QStringLiteral("Conversion Table Columns");
inline const QString kAddFilesErrorsFrame = QStringLiteral("AddFilesErrors Frame");
inline const QString kConversionEditorFrame = QStringLiteral("Define Conversion Dialog Frame");
inline const QString kProgressWindowFrame = QStringLiteral("Progress Window Frame");
inline const QString kFeedbackWindowFrame = QStringLiteral("Feedback Window Frame");

}  // namespace PreferenceKeys
