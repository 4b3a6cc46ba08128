// The serial driver's reply handling against a hostile instrument: a peer on
// the other side of a pseudo-terminal answers every line the driver sends
// with the next reply of the input, whatever it holds (no terminator, stray
// terminators, endless blocks, garbage status bytes), and the driver reads,
// reads blocks and makes checked sends. Every failure must be a ComError.
#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <tessel/tessel.h>

namespace {

// The instrument's side: one reply per line received, in order; nothing once
// they run out. Input arriving between runs is dropped.
class Peer {
public:
    Peer() {
        int master = -1;
        int slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) std::abort();
        master_ = master;
        slave_ = slave;  // held open, so the master never sees a hang-up
        char name[64];
        if (::ttyname_r(slave, name, sizeof name) != 0) std::abort();
        path_ = name;
        ::fcntl(master_, F_SETFL, O_NONBLOCK);
        thread_ = std::thread([this] { Serve(); });
    }

    const std::string& Path() const { return path_; }

    void Script(std::deque<std::string> replies) {
        std::lock_guard lock(mu_);
        replies_ = std::move(replies);
    }

private:
    void Serve() {
        char buf[4096];
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, -1) >= 0) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) continue;
            std::lock_guard lock(mu_);
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\n') continue;
                if (replies_.empty()) break;
                const std::string reply = std::move(replies_.front());
                replies_.pop_front();
                for (std::size_t done = 0; done < reply.size();) {
                    const ssize_t w = ::write(master_, reply.data() + done, reply.size() - done);
                    if (w > 0) done += static_cast<std::size_t>(w);
                    else break;  // the driver is not reading: drop the rest
                }
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::mutex mu_;
    std::deque<std::string> replies_;
    std::thread thread_;
};

struct Driver {
    Driver() {
        tessel::AssignSerialPort(1, peer.Path());
        object = tessel::CreateObject("Tessel.clsComm");
        setup = tessel::QueryInterface<tessel::IPortSetup>(object);
        port = tessel::QueryInterface<tessel::IPort>(object);
        blocks = tessel::QueryInterface<tessel::IPortB>(object);
        direct = tessel::QueryInterface<tessel::IPortDirect>(object);
        setup->Settings()->Item("Baud Rate")->Value(-1, -1, "115200");
        setup->Settings()->Item("Handshaking")->Value(-1, -1, "None");
        setup->OnLine(true);
        port->TimeOut(0.005f);
    }
    Peer peer;
    std::shared_ptr<tessel::Object> object;
    std::shared_ptr<tessel::IPortSetup> setup;
    std::shared_ptr<tessel::IPort> port;
    std::shared_ptr<tessel::IPortB> blocks;
    std::shared_ptr<tessel::IPortDirect> direct;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Driver* driver = new Driver;  // one port for the whole run
    FuzzedDataProvider in(data, size);
    std::deque<std::string> replies;
    const int count = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < count; ++i) replies.push_back(in.ConsumeRandomLengthString(256));
    driver->peer.Script(std::move(replies));

    // A few calls each: every reply that never ends costs a time-out.
    for (int call = 0; call < 16 && in.remaining_bytes() > 0; ++call) {
        try {
            switch (in.ConsumeIntegralInRange(0, 4)) {
            case 0: driver->port->Receive("Q?"); break;
            case 1: {
                const auto n = in.ConsumeIntegralInRange<int16_t>(-2, 300);
                driver->blocks->ReceiveB(n, "DATA? " + std::to_string(n));
                break;
            }
            case 2: driver->port->SendE("C"); break;
            case 3: {
                tessel::Variant reply;
                driver->port->SendE("Q?", &reply);
                break;
            }
            default: driver->direct->Receive(); break;
            }
        } catch (const tessel::ComError&) {
            // What a hostile instrument earns: time-outs, conversions, device errors.
        }
    }
    driver->peer.Script({});
    driver->direct->Receive();  // what is left over belongs to no later input
    return 0;
}
