// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The AVR bridge on the SHARC boards stands between the serial line and the DSP. It is
// found with 'A' (answered 'a') and unlocked with "KBoTaps" ('O' yes, 'E' no); "P" then
// passes the line through to the DSP's loader, which is found with 's' (answered 'i') and
// unlocked with "KBoTaps" in turn. A lone 0xC9 ends the exchange and hands the line back
// to the bridge, which answers 'O'.
constexpr uint8_t BridgeFind = 0x41;         // 'A'
constexpr uint8_t BridgeFound = 0x61;        // 'a'
constexpr uint8_t BridgeSync = 0x70;         // 'p': "/SINHRO" before the pass-through
constexpr uint8_t BridgePassThrough = 0x50;  // 'P'
constexpr uint8_t DspFind = 0x73;            // 's'
constexpr uint8_t DspFound = 0x69;           // 'i'
constexpr uint8_t UnlockYes = 0x4F;          // 'O'
constexpr uint8_t UnlockNo = 0x45;           // 'E'
constexpr uint8_t ExchangeEnd = 0xC9;        // lone: back to the bridge
constexpr uint8_t ExchangeEnded = 0x4F;      // 'O'
inline constexpr const char* SharcUnlockText = "KBoTaps";

// "connecting atmel..." until the bridge answers, then "initializing atmel..." and the
// unlock, " ok" appended to each. A refusal appends " ERROR" in red and sets RunError 5.
// True when the bridge is unlocked and the run goes on.
bool UnlockSharcBridge(Station& st);

// "p" with "/SINHRO", then "P": the bridge passes everything on to the DSP.
void PassThroughToDsp(Station& st, bool sinhro);

// "connecting sharc..." until the DSP's loader answers (" ok"), then its unlock. A refusal
// appends " ERROR" in red and sets RunError 5. True when the loader is unlocked.
bool UnlockSharcDsp(Station& st);

// The lone 0xC9 that ends the exchange, and the bridge's 'O'.
void EndSharcExchange(Station& st);

// Streams the bridge takes byte by byte keep 0xFE (end) and 0xFF (escape) for themselves:
// a byte from 0xFA to 0xFF travels as 0xFF and the byte inverted (0xFA 0xFF 0x05, 0xFF
// 0xFF 0x00); every other byte as it is.
constexpr uint8_t BridgeEscape = 0xFF;
constexpr uint8_t BridgeEscapedFrom = 0xFA;
void AppendBridgeEscaped(std::string& out, uint8_t b);

}  // namespace ps
