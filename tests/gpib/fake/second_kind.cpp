// A GPIB library of the second kind: no registration, the status through
// per-thread functions (with FAKE_STATUS_VARIABLES: the process-wide variables
// of older libraries), Send's end modes numbered the other way (2 a line feed
// with EOI). One device at every address of board 0 echoes each message.
// FAKE_WITHOUT_IBWAIT leaves out a function the driver needs.
#include <algorithm>
#include <cstring>
#include <string>

#ifdef FAKE_STATUS_VARIABLES
extern "C" {
int ibsta = 0, iberr = 0;
long ibcntl = 0;
}
#endif

namespace {

constexpr int kERR = 0x8000, kTIMO = 0x4000, kEND = 0x2000, kCMPL = 0x100, kEABO = 6;
thread_local int t_sta = 0, t_err = 0;
thread_local long t_cntl = 0;
std::string g_pending;
int g_lastEndMode = -1;

int Done(int sta, int err = 0, long cntl = 0) {
    t_sta = sta;
    if (sta & kERR) t_err = err;
    t_cntl = cntl;
#ifdef FAKE_STATUS_VARIABLES
    ibsta = t_sta, iberr = t_err, ibcntl = t_cntl;
#endif
    return sta;
}

}  // namespace

extern "C" {

int ibfind(const char* name) { return std::strcmp(name, "GPIB0") == 0 ? (Done(kCMPL), 0) : (Done(kERR, 0), -1); }
int ibsic(int) { return Done(kCMPL); }
int ibdev(int, int, int, int, int, int) { return Done(kCMPL), 40; }
int ibonl(int, int) { return Done(kCMPL); }
int ibtmo(int, int) { return Done(kCMPL); }
int ibeot(int, int) { return Done(kCMPL); }
int ibwrt(int, const void*, long count) { return Done(kCMPL, 0, count); }
int ibrd(int, void*, long) { return Done(kERR | kTIMO, kEABO); }
#ifndef FAKE_WITHOUT_IBWAIT
int ibwait(int, int) { return Done(kCMPL); }
#endif
void FindLstn(int, const unsigned short* addresses, unsigned short* results, int) {
    results[0] = addresses[0];
    Done(kCMPL, 0, 1);
}
void SetRWLS(int, const unsigned short*) { Done(kCMPL); }
void EnableRemote(int, const unsigned short*) { Done(kCMPL); }
void EnableLocal(int, const unsigned short*) { Done(kCMPL); }
void Send(int, unsigned short, const void* buffer, long count, int end_mode) {
    g_pending.assign(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    if (end_mode == 2) g_pending += '\n';
    g_lastEndMode = end_mode;
    Done(kCMPL, 0, count);
}
// A read with nothing to say times out at once.
void Receive(int, unsigned short, void* buffer, long count, int) {
    if (g_pending.empty()) return static_cast<void>(Done(kERR | kTIMO, kEABO));
    const long n = std::min<long>(count, static_cast<long>(g_pending.size()));
    std::memcpy(buffer, g_pending.data(), static_cast<std::size_t>(n));
    g_pending.clear();
    Done(kCMPL | kEND, 0, n);
}
void ReadStatusByte(int, unsigned short, short* result) { *result = 0, Done(kCMPL); }
#ifndef FAKE_STATUS_VARIABLES
int ThreadIbsta() { return t_sta; }
int ThreadIberr() { return t_err; }
long ThreadIbcntl() { return t_cntl; }
#endif
// For the tests: the end mode of the last Send.
int FakeLastEndMode() { return g_lastEndMode; }

}  // extern "C"
