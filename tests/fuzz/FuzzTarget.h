// Shared pieces of the parser fuzz targets.
//
// A target is one file fuzz_<name>.cpp that defines:
//
//   std::vector<std::string> FuzzSeeds();     // small valid inputs to start from
//   extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
//
// Built by clang with sanitizers, a target is a libFuzzer program that runs a
// bounded number of iterations from its seeds.  Built otherwise, FuzzDriver.cpp
// supplies main(): every seed, every truncation of it and a fixed set of
// deterministic mutations are run once, so the plain build checks the same
// parsers on damaged input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::vector<std::string> FuzzSeeds();
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Writes the input to this process's scratch file (the same path every
// call, made unique per process) and returns the path, so that parsers that
// read files through the platform layer can be fuzzed.  `extension` lets a
// target give the file a name its format expects (".aif", ".wav").
std::string FuzzWriteInput(const uint8_t* data, size_t size, const std::string& extension = "");

// This process's scratch folder (removed at exit), for targets that lay out
// several files.
std::string FuzzScratchFolder();
