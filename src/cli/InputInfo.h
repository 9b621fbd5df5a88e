// What the input-file model (ZuSoundFile) says about one input, as one line
// of JSON: the path, the type code, the format name, the sample rate,
// channels, bits, frames and the numbers of markers, loops and regions of a
// readable file (the regions it holds when the sound-file layer's "process
// file if no regions" switch is off, as --info sets it); "folder": true for
// a folder; the error code and its message when the input cannot be read.
// "sampleRateFrom" says where the rate of a headerless file came from when
// its name gives none (the raw-file settings).
#pragma once

#include <QJsonObject>
#include <QString>

class ZuSoundFile;

class InputInfo {
public:
    // Examines `path` through a new ZuSoundFile.
    explicit InputInfo(const QString& path);
    // Describes an examined model.
    explicit InputInfo(const ZuSoundFile& model);

    // Whether the model could read the input (folders count as readable).
    bool readable() const { return readable_; }
    const QJsonObject& object() const { return object_; }
    // The object as compact JSON, without a line end.
    QString jsonLine() const;

    // A four-character code as text, "FORM"; bytes outside printable ASCII
    // as "\xNN".
    static QString typeCodeText(quint32 code);
    // The log's message for an error code, else the platform error's
    // description or name, else "error <code>".
    static QString errorMessage(int code);
    // The option that reads headerless files whose names give no rate at
    // `rate`: --set "Unrecognized Input File Sample Rate=8000".
    static QString rawRateSetting(const QString& rate);

private:
    void describe(const ZuSoundFile& model);

    bool readable_ = false;
    QJsonObject object_;
};
