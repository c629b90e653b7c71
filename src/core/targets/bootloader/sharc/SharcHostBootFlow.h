// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The host-boot stream through the AVR bridge: 'B', each 16-bit word of the boot image
// high byte first (the file holds them low byte first), every byte escaped for the bridge,
// then the end byte. The board holds the stream with XOFF and lets it go on with XON.
constexpr uint8_t HostBootStart = 0x42;  // 'B'
constexpr uint8_t HostBootEnd = 0xFE;
constexpr uint8_t HostBootXoff = 0x13;
constexpr uint8_t HostBootXon = 0x11;
constexpr int HostBootStartPauseMs = 50;  // after 'B', before the first word
// A file of odd length ends in half a word: its missing high byte goes out as this.
constexpr uint8_t HostBootPadByte = 0x00;

// Streams the boot image (a binary file; ".HEX" is appended to a name without a dot):
// progress by bytes sent, the file size in the byte column's total. Ends the stream
// early, without the end byte, on STOP; a file that cannot be opened or read is an
// image-file error.
void SendHostBootFile(Station& st, const std::string& fileName);

// The "SHARC-HostBoot" step: the bridge's unlock, the boot stream, the result and CONTINUE.
void SharcHostBootFlow(Station& st);

}  // namespace ps
