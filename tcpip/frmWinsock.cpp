#include "tcpip/frmWinsock.h"

#include <string>

namespace tessel::tcpip {

frmWinsock::frmWinsock(std::shared_ptr<EventLoop> loop) : Winsock(std::move(loop)) {
    Winsock.OnClose = [this] {
        if (Closed) Closed();
    };
    Winsock.OnConnect = [this] {
        if (Connected) Connected();
    };
    Winsock.OnDataArrival = [this](int32_t bytesTotal) {
        if (DataArrival) DataArrival(bytesTotal);
    };
    Winsock.OnError = [this](int16_t Number, std::string& Description, int32_t Scode, const std::string& Source,
                             const std::string& HelpFile, int32_t HelpContext, bool& CancelDisplay) {
        if (Error) Error(Number, Description, Scode, Source, HelpFile, HelpContext, CancelDisplay);
    };
    Winsock.OnSendComplete = [this] {
        if (SendComplete) SendComplete();
    };
    Winsock.OnSendProgress = [this](int32_t bytesSent, int32_t bytesRemaining) {
        if (SendProgress) SendProgress(bytesSent, bytesRemaining);
    };
}

int32_t frmWinsock::State() { return Winsock.State(); }

Variant frmWinsock::RemoteHost() { return Variant(Winsock.RemoteHost()); }

void frmWinsock::RemoteHost(const Variant& vNewValue) { Winsock.RemoteHost(vNewValue.ToString()); }

Variant frmWinsock::RemotePort() { return Variant(Winsock.RemotePort()); }

void frmWinsock::RemotePort(const Variant& vNewValue) { Winsock.RemotePort(vNewValue.ToLong()); }

void frmWinsock::Connect() { Winsock.Connect(); }

void frmWinsock::Disconnect() { Winsock.Close(); }

void frmWinsock::SendData(const Variant& vNewData) { Winsock.SendData(vNewData); }

void frmWinsock::GetData(Variant& vNewData, const Variant& nType, const Variant& lMaxLen) {
    if (nType.IsMissing()) Winsock.GetData(vNewData);
    else if (lMaxLen.IsMissing()) Winsock.GetData(vNewData, nType);
    else Winsock.GetData(vNewData, nType, lMaxLen);
}

}  // namespace tessel::tcpip
