#include "serial/comm_control.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>

#include <asio/post.hpp>

#include <tessel/error.h>
#include <tessel/serial_ports.h>

#include "serial/comm_errors.h"

namespace tessel::serial {
namespace {

int16_t Saturated(std::size_t n) {
    return static_cast<int16_t>(std::min<std::size_t>(n, std::numeric_limits<int16_t>::max()));
}

}  // namespace

CommControl::CommControl(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {
    // The control's own defaults: 9600 baud, no parity, 8 data bits, 1 stop bit, no handshake.
    // Input is watched from just before the loop looks for events: arming
    // the watch costs a system call, which then stays off the way from a
    // reply's arrival to its reader.
    loop_->AddLookHook(this, [this] { WatchInput(); });
}

CommControl::~CommControl() {
    loop_->RemoveLookHook(this);
    Close();
}

void CommControl::CommPort(int16_t port) {
    if (port < 1) RaiseCommError(kCommInvalidPortNumber, "port numbers start at 1, not " + std::to_string(port));
    if (port != commPort_ && PortOpen())
        RaiseCommError(kCommPortOpened, "close COM" + std::to_string(commPort_) + " before choosing COM" +
                                            std::to_string(port));
    commPort_ = port;
}

std::string CommControl::Settings() const { return FormatLineText(settings_); }

void CommControl::Settings(const std::string& text) {
    LineSettings wanted = ParseLineText(text, settings_);
    if (link_) link_->device.Apply(wanted);
    settings_ = wanted;
}

void CommControl::Handshaking(int16_t mode) {
    if (mode < 0 || mode > 3)
        RaiseCommError(kCommInvalidPropertyValue,
                       "handshaking is 0 (none) to 3 (RTS/CTS with XON/XOFF), not " + std::to_string(mode));
    LineSettings wanted = settings_;
    wanted.handshake = static_cast<Handshake>(mode);
    if (link_) link_->device.Apply(wanted);
    settings_ = wanted;
}

void CommControl::InputLen(int16_t length) {
    if (length < 0)
        RaiseCommError(kCommInvalidPropertyValue, "InputLen is 0 (everything) or a count, not " +
                                                      std::to_string(length));
    inputLen_ = length;
}

void CommControl::InputMode(int16_t mode) {
    if (mode != comInputModeText && mode != comInputModeBinary)
        RaiseCommError(kCommInvalidPropertyValue, "InputMode is 0 (text) or 1 (binary), not " +
                                                      std::to_string(mode));
    inputMode_ = mode;
}

CommControl::Link::Link(asio::io_context& io, SerialDevice opened)
    : device(std::move(opened)), watch(io, device.Fd()) {}

CommControl::Link::~Link() {
    // The device owns the descriptor; the watch only lets go of it.
    asio::error_code ignored;
    watch.cancel(ignored);
    watch.release();
}

void CommControl::PortOpen(bool open) {
    if (!open) {
        Close();
        return;
    }
    if (PortOpen()) RaiseCommError(kCommPortAlreadyOpen, "COM" + std::to_string(commPort_) + " (" +
                                                             link_->device.Path() + ") is already open");
    SerialDevice device = SerialDevice::Open(SerialPortPath(commPort_));
    device.Apply(settings_);
    Link& link = link_.Open(loop_->Context(), std::move(device));
    hangUp_.reset();
    output_.clear();
    commEvent_ = 0;
    // What waits in the device came before this open: from an earlier
    // connection, or from whoever had the port before.
    DiscardInput(link);
}

void CommControl::Close() noexcept {
    if (!link_) return;
    // Unsent output is dropped rather than letting close() wait for a line
    // that XOFF or a missing CTS may hold forever.
    link_.Close();
    output_ = std::string();
    input_ = std::string();
}

SerialDevice& CommControl::Open() {
    if (!link_) RaiseCommError(kCommPortNotOpen, "COM" + std::to_string(commPort_) + " is closed");
    return link_->device;
}

int16_t CommControl::InBufferCount() {
    Open();
    if (input_.empty() && hangUp_) RaiseCommError(kCommReadError, *hangUp_);
    return Saturated(input_.size());
}

void CommControl::InBufferCount(int16_t count) {
    Open();
    if (count != 0)
        RaiseCommError(kCommInvalidPropertyValue, "InBufferCount can only be set to 0 (discard input), not " +
                                                      std::to_string(count));
    DiscardInput(*link_);
}

void CommControl::DiscardInput(Link& link) {
    // A readiness wait still queued in the loop reads what is there when it
    // runs, which is then newer than this discard; nothing else holds input.
    input_.clear();
    link.mayHaveMore = false;
    if (hangUp_) return;
    // A flush, not reads until nothing waits: the tty layer hands received
    // bytes on in the background, so a read can find nothing while more of
    // an old reply is still on its way in; the flush drops those too.
    try {
        link.device.DropInput();
    } catch (const ComError& e) {
        hangUp_ = e.Detail;
        commEvent_ = comEvCD;
    }
}

int16_t CommControl::OutBufferCount() {
    SerialDevice& device = Open();
    Flush();
    return Saturated(output_.size() + device.OutputPending());
}

double CommControl::SecondsUntilDeviceDrained() const {
    return link_ ? link_->device.SecondsToSend(link_->device.OutputPending()) : 0.0;
}

Variant CommControl::Input() {
    Open();
    if (input_.empty() && hangUp_) RaiseCommError(kCommReadError, *hangUp_);
    std::size_t take = input_.size();
    if (inputLen_ > 0) take = std::min<std::size_t>(take, static_cast<std::size_t>(inputLen_));
    Variant result = inputMode_ == comInputModeBinary
                         ? Variant::Bytes(std::vector<uint8_t>(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(take)))
                         : Variant(input_.substr(0, take));
    input_.erase(0, take);
    return result;
}

void CommControl::Output(const Variant& data) {
    Open();
    if (hangUp_) RaiseCommError(kCommReadError, *hangUp_);
    if (data.Type() == VarType::Bytes) {
        const auto& bytes = data.AsBytes().bytes;
        output_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    } else if (data.Type() == VarType::String) {
        output_ += data.ToString();
    } else {
        RaiseCommError(kCommInvalidPropertyValue,
                       "Output takes text or a byte array, not " + std::string(TypeName(data.Type())));
    }
    Flush();
}

void CommControl::Flush() {
    SerialDevice& device = Open();
    std::size_t written = 0;
    try {
        while (written < output_.size()) {
            const std::size_t n = device.Write(std::span(reinterpret_cast<const uint8_t*>(output_.data()) + written,
                                                         output_.size() - written));
            if (n == 0) break;
            written += n;
        }
    } catch (const ComError& e) {
        output_.erase(0, written);
        hangUp_ = e.Detail;
        commEvent_ = comEvCD;
        throw;
    }
    output_.erase(0, written);
    WatchOutput();
}

void CommControl::WatchInput() {
    if (!link_ || link_->reading || hangUp_ || input_.size() >= kInputQueueLimit) return;
    Link& link = *link_;
    link.reading = true;
    if (link.mayHaveMore) {
        asio::post(loop_->Context(), link_.Bind([this](Link& l) { ReadNow(l); }));
        return;
    }
    // Waiting for readiness and then reading costs one read per arrival; a
    // read armed in advance would try once more at once and find nothing.
    link.watch.async_wait(asio::posix::descriptor_base::wait_read,
                          link_.Bind([this](Link& l, const asio::error_code& ec) {
                              if (!ec) {
                                  ReadNow(l);
                                  return;
                              }
                              l.reading = false;
                              hangUp_ = l.device.HangUpDetail(ec.value(), "waiting for input on");
                              Raise(comEvCD);
                          }));
}

void CommControl::ReadNow(Link& link) {
    link.reading = false;
    const std::size_t room = std::min(link.buffer.size(), kInputQueueLimit - input_.size());
    std::size_t n = 0;
    try {
        n = link.device.Read(std::span(link.buffer.data(), room));
    } catch (const ComError& e) {
        hangUp_ = e.Detail;
        Raise(comEvCD);
        return;
    }
    link.mayHaveMore = n == room;
    if (n > 0) Arrived(link.buffer.data(), n);
    if (n > 0) Raise(comEvReceive);
}

void CommControl::Arrived(const char* bytes, std::size_t n) { input_.append(bytes, n); }

void CommControl::WatchOutput() {
    if (!link_ || link_->writing || output_.empty() || hangUp_) return;
    link_->writing = true;
    link_->watch.async_wait(asio::posix::descriptor_base::wait_write,
                            link_.Bind([this](Link& l, const asio::error_code& ec) {
                                l.writing = false;
                                if (ec) {
                                    hangUp_ = l.device.HangUpDetail(ec.value(), "waiting to write to");
                                    Raise(comEvCD);
                                    return;
                                }
                                try {
                                    Flush();
                                } catch (const ComError&) {
                                    Raise(comEvCD);
                                    return;
                                }
                                if (output_.empty()) Raise(comEvSend);
                            }));
}

void CommControl::Raise(int16_t event) {
    commEvent_ = event;
    if (OnComm) OnComm();
}

}  // namespace tessel::serial
