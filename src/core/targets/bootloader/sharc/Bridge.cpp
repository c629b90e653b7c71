// SPDX-License-Identifier: MIT
#include "targets/bootloader/sharc/Bridge.h"

#include "run/Station.h"
#include "link/Link.h"
#include "targets/bootloader/sharc/SharcTexts.h"

namespace ps {

namespace {

// "KBoTaps" and its answer. The refusal stands in red with its own text: nothing after it
// may show success.
bool Unlock(Station& st) {
    SendText(st, SharcUnlockText);
    const bool yes = ExpectAck(st, UnlockYes, UnlockNo);
    if (st.RunError != RunOk) return false;
    if (!yes) {
        st.Status(st.StatusText() + SharcTextRefused, StatusColorError);
        st.RunError = RunUnlockRefused;
        return false;
    }
    return true;
}

}  // namespace

bool UnlockSharcBridge(Station& st) {
    st.Status(SharcTextConnectingAtmel, StatusColorNormal);
    Handshake(st, BridgeFind, BridgeFound);
    if (st.RunError != RunOk) return false;
    st.AppendStatus(SharcTextOk);
    st.Status(SharcTextInitializingAtmel);
    if (!Unlock(st)) return false;
    st.AppendStatus(SharcTextOk);
    return true;
}

void PassThroughToDsp(Station& st, bool sinhro) {
    if (sinhro) SendByte(st, BridgeSync);
    SendByte(st, BridgePassThrough);
}

bool UnlockSharcDsp(Station& st) {
    st.Status(SharcTextConnectingSharc, StatusColorNormal);
    Handshake(st, DspFind, DspFound);
    if (st.RunError != RunOk) return false;
    st.AppendStatus(SharcTextOk);
    return Unlock(st);
}

void EndSharcExchange(Station& st) {
    SendByte(st, ExchangeEnd);
    ExpectByte(st, ExchangeEnded);
}

void AppendBridgeEscaped(std::string& out, uint8_t b) {
    if (b >= BridgeEscapedFrom) {
        out += static_cast<char>(BridgeEscape);
        out += static_cast<char>(static_cast<uint8_t>(~b));
    } else {
        out += static_cast<char>(b);
    }
}

}  // namespace ps
