// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

#include "run/Station.h"
#include "images/ImageAccount.h"

namespace ps {

// The three models that share the Intel image loader and block sender.
constexpr int32_t ModelIntelBoot = 2;
constexpr int32_t ModelIntelLoaderRam = 3;
constexpr int32_t ModelIntelLoaderFlash = 4;

// The image of an Intel step lives in the run's ImageBuffers: 256 KB of offsets.
constexpr int32_t IntelImageSize = ImageBufferCount * ImageBufferSize;
constexpr int IntelBootBlockLen = 256;      // bare blocks of the boot monitor
constexpr int IntelLoaderBlockLen = 128;    // acknowledged blocks of the two loaders
constexpr int32_t IntelRamSpace = 0x10000;  // the RAM loader takes 16-bit addresses
inline constexpr const char* IntelHexExtension = ".HEX";

int IntelBlockLen(int32_t model);

// What reading an image file into ImageBuffers gave.
struct IntelImageRead {
    bool Ok = false;      // read to the end, and every data byte has its place
    int32_t Stored = 0;   // bytes stored in the image
    int32_t Outside = 0;  // data bytes (not 0xFF) that have no place in the step's window
    uint32_t FirstOutsideAddress = 0;  // the record address of the first of them
    int FirstOutsideBank = -1;         // and its bank (LOADER FLASH), else -1
    const char* FirstOutsideReason = nullptr;  // why it has no place (images/ImageAccount.h)
};

// The end of the offsets a step sends: "/ADDRLEN=", at most the size of the image.
int32_t IntelWindowEnd(const StepSettings& step);

// Why the step's window cannot be used by the model ("" when it can): the window must fit
// the model and the map's `rows`. The text is the step's refusal (RunError 10).
std::string IntelWindowProblem(const StepSettings& step, int32_t model, int rows);

// Where the model's loader puts a data byte of the image file: nullptr when at its own
// address inside the step's window, else the reason (images/ImageAccount.h).
const char* IntelByteProblem(const StepSettings& step, int32_t model, const ImageByte& byte);

// The byte at image offset 0 <= offset < IntelImageSize.
uint8_t& IntelImageByte(Station& st, int32_t offset);

// Whether the step can be carried out as it stands, decided before anything is sent: the
// address window fits the model and the map, and every data byte of the image file has its
// place in it. Otherwise the refusal is shown in the error colour and RunError is set (a bad
// image file is reported by the image readers as usual). Reads the image file to find out.
bool IntelStepUsable(Station& st, int32_t model);

// Reads the image file of a model into ImageBuffers (0xFF where the file puts nothing) and
// counts the bytes per map row (per bank for LOADER FLASH) in RowByteCounts. Intel HEX with
// the lenient conversion; type 00 data, type 02 selects the bank. `show` clears the map
// first. A byte whose offset has no place in the step's window is not stored.
IntelImageRead ReadIntelImage(Station& st, const std::string& file, int32_t model, bool show);

// Reads the image, shows the byte counts beside the map and sends the blocks that hold data.
// An image with data outside the window is refused before any block goes out.
void LoadIntelImage(Station& st, const std::string& file, int32_t model);

// The image part of every Intel step: row counters and labels cleared, then LoadIntelImage.
void ProgramIntelImage(Station& st, int32_t model);

}  // namespace ps
