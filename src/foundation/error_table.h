// The program's error codes with their log messages and message classes.
#pragma once

#include <cstdint>
#include <string>

// What the conversion log does with a code's message.
enum ErrorMessageClass : int {
    kErrorClassNone = 0,              // not in the table, or listed without a class
    kErrorClassWarning = 1,           // logged for the current file; the batch goes on
    kErrorClassFatal = 2,             // the log is marked fatal and the batch stops
    kErrorClassReportWarning = 3,     // as a warning, with the prefix "%d, call Corvane: "
    kErrorClassSystemErrorName = 4,   // never from the table: the log's system error names
    kErrorClassNote = 5,              // logged only; not reported back as a warning
};

// One row of the table: the code, its class and its message (plain ASCII,
// which is also Mac OS Roman and UTF-8).
struct ErrorTableEntry {
    int32_t code;
    int message_class;
    const char* message;
};

// Fills `message` (a Str255 buffer of 256 bytes: length byte, then the text)
// with the message of `code`, an empty Pascal string for a code the table does
// not know, and returns the code's class (0 for an unknown code).
int GetErrorPString(int32_t code, unsigned char message[256]);

// The message and class of a code as plain C++ values.
struct ErrorMessage {
    std::string message;   // empty for an unknown code
    int message_class = kErrorClassNone;
};
ErrorMessage LookupErrorMessage(int32_t code);

// The table row of a code, or null when the code is not in the table.
const ErrorTableEntry* FindErrorTableEntry(int32_t code);

// The whole table, sorted by code (for tests and listings).
const ErrorTableEntry* ErrorTableBegin();
const ErrorTableEntry* ErrorTableEnd();
