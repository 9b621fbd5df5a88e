// Inputs written by ffmpeg, sox and lame for the movie and CAF tests, and
// the peers' decodes to compare with.
#pragma once

#include "CSoundFile.h"
#include "PeerTools.h"

#include <cstdint>
#include <string>
#include <vector>

namespace movietest {

// Runs a shell command line; true when it exits with 0.
bool RunCommand(const std::string& command);
// The file's bytes and ffmpeg's decode (32-bit, interleaved): the shared peer runner.
using peers::FFmpegS32, peers::ReadAll, peers::WriteAll;
// The whole file through the class's blocks: each sample left-aligned in
// 32 bits, interleaved.
std::vector<int32_t> DecodeBlocks(CSoundFile& file);
// `frames` frames from `frame` through the blocks (the first block starts
// at `frame`).
std::vector<int32_t> ReadAt(CSoundFile& file, UInt32 frame, UInt32 frames);
// Keeps the top `bits` bits of every sample.
std::vector<int32_t> Truncate(std::vector<int32_t> samples, int bits);

} // namespace movietest
