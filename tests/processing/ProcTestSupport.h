// Shared helpers of the processing tests: a fresh dither table with a known
// sequence, a recorder of position posts, and a plain reference model of
// the copy's arithmetic.
#pragma once

#include "DitherTable.h"
#include "NotificationCenter.h"
#include "PeerTools.h"
#include "TestTempDir.h"
#include "ThreadDictionary.h"
#include "progress_channel.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// Restarts the dither generator and the running index, so the table is the
// first one a fresh process builds (77, 141, 122, 13, 117, ...).
inline void FreshDitherTable()
{
    FreeDitherTable();
    gDitherSeed = 0;
    gDitherIndex = 0;
    ASSERT_EQ(CreateDitherTable(), 0);
}

// Runs a peer `program` on the raw samples `input`: they go to a temporary
// file whose path stands for "%in" in `arguments`; its standard output, or
// an empty array (and a failure) when it fails.
inline QByteArray RunPeerOnRaw(const QString& program, const QByteArray& input, QStringList arguments)
{
    TestTempDir dir;
    const QString path = QString::fromStdString(dir.file("in.raw"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(input) == input.size());
    file.close();
    arguments.replaceInStrings(QStringLiteral("%in"), path);
    const peers::RunResult r = peers::Run(program, arguments);
    EXPECT_EQ(r.exitCode, 0) << program.toStdString() << ": " << r.err.toStdString();
    return r.exitCode == 0 ? r.out : QByteArray();
}

// Records "ProgressPosition" posts while it lives.
class PositionRecorder {
public:
    PositionRecorder()
    {
        token_ = NotificationCenter::defaultCenter().addObserver(
            kProgressPositionNotification, nullptr,
            [this](const Notification& n) { positions.push_back(n.object.toLongLong()); });
    }
    ~PositionRecorder() { NotificationCenter::defaultCenter().removeObserver(token_); }
    std::vector<int64_t> positions;

private:
    NotificationCenter::Token token_ = 0;
};

// Clears the thread's stop value before and after a test.
class StopValueGuard {
public:
    StopValueGuard() { ThreadDictionary::current().clearLastError(); }
    ~StopValueGuard() { ThreadDictionary::current().clearLastError(); }
};

// ----------------------------------------------------------- the model
// Word kinds of the model: bits 8, 16, 24, 32, or 146 for 24 bits in the
// low three bytes of 32-bit words.
inline int64_t ModelJustify(int kind, int32_t sample)
{
    switch (kind) {
    case 8:
        return int64_t(sample) * (int64_t(1) << 24);
    case 16:
        return int64_t(sample) * (int64_t(1) << 16);
    case 24:
        return int64_t(sample) * 256;
    case 146: {
        const uint32_t low = uint32_t(sample) & 0xFFFFFFu;
        const int64_t value = (low & 0x800000u) ? int64_t(low) - 0x1000000 : int64_t(low);
        return value * 256;
    }
    default:
        return sample;
    }
}

inline int64_t FloorShift(int64_t value, int bits)
{
    const int64_t d = int64_t(1) << bits;
    return value >= 0 ? value / d : -((-value + d - 1) / d);
}

// One output word from the intermediate s; `noise` is consulted only when
// dithering, and then only when the guard lets noise in.
inline int32_t ModelQuantize(int outKind, int64_t s, bool dither, bool halfUp, uint16_t& index)
{
    auto draw = [&]() -> int64_t {
        index = uint16_t(index + 1);
        return gDitherTable[index];
    };
    switch (outKind) {
    case 8:
        if (dither)
            return int32_t(s <= 0x7EFFFFFF ? FloorShift(s + draw() * 65536, 24) : FloorShift(s, 24));
        return int32_t(s > 0x7F7FFFFE ? FloorShift(s, 24) : FloorShift(s + (halfUp ? 0x800000 : 0x7FFFFF), 24));
    case 16:
        if (dither)
            return int32_t(s <= 0x7FFEFFFF ? FloorShift(s + draw() * 256, 16) : FloorShift(s, 16));
        return int32_t(s > 0x7FFEFFFF ? FloorShift(s, 16) : FloorShift(s + (halfUp ? 0x8000 : 0x7FFF), 16));
    case 24:
    case 146:
        return int32_t(FloorShift(s, 8));
    default:
        return int32_t(s);
    }
}
