// The readers that add a file's metadata to its information dictionary
// (GetExtraInfo): the format libraries register them, so that the core
// reaches them without depending on them.  A reader adds what it finds and
// never throws.  Register before the worker threads run.
#pragma once

#include <QVariantMap>

#include <string>

using ExtraInfoReader = void (*)(const std::string& path, QVariantMap* info);

// Registering the same reader again does nothing.
void RegisterExtraInfoReader(ExtraInfoReader reader);
// Runs every registered reader, in order of registration.
void ReadExtraInfo(const std::string& path, QVariantMap* info);
