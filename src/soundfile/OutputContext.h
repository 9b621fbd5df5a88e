// What an output sound file knows of the conversion that makes it: the name
// it will be published under and the conversion's settings for the current
// input.  The pipeline opens a scope around the making of an output, and
// every sound file made meanwhile on this thread (a set's members and a
// coded file's inner file too) keeps the scope's context for its whole
// life (CSoundFile::GetOutputContext); a file made outside any scope has
// the empty context.  The formats read their conversion settings from it.
//
//   OutputContextScope scope(context);
//   ... make the output object, name and create it ...
#pragma once

#include "FileManager.h"

#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <string>

struct OutputContext {
    // The base name the outputs will be published under; empty: a format
    // that stores its own name stores the file's name less its temporary
    // tag (CSoundFile::GetStoredFileNameString).
    std::string baseName;
    // The conversion's per-type settings for this input (the conversion's
    // own, with the tags of an MP3 input added).
    QVariantMap specifics;
    // What the conversion says of the output's word length, when a
    // conversion makes the output.
    struct WordLength {
        bool needsNewWordLength = false;
        bool bitRatePerChannel = false;
    };
    std::optional<WordLength> wordLength;
    // The conversion names no output type: the output keeps the input's.
    bool keepsInputType = false;
    // The input's path and display name, and the conversion's output folder.
    QString inputPath;
    QString longName;
    std::optional<FSRef> outputFolder;
};

class OutputContextScope {
public:
    explicit OutputContextScope(OutputContext context);
    ~OutputContextScope();
    OutputContextScope(const OutputContextScope&) = delete;
    OutputContextScope& operator=(const OutputContextScope&) = delete;

    // The context of the innermost scope on this thread; null with none.
    static std::shared_ptr<const OutputContext> Current();
    // The context every file made outside any scope has.
    static const OutputContext& Empty();

private:
    std::shared_ptr<const OutputContext> previous_;
};
