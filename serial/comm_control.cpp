#include "serial/comm_control.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>

#include <tessel/error.h>
#include <tessel/serial_ports.h>

#include "ports/trace_hook.h"
#include "serial/comm_errors.h"

namespace tessel::serial {
namespace {

int16_t Saturated(std::size_t n) {
    return static_cast<int16_t>(std::min<std::size_t>(n, std::numeric_limits<int16_t>::max()));
}

}  // namespace

CommControl::CommControl(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {
    // The control's own defaults: 9600 baud, no parity, 8 data bits, 1 stop bit, no handshake.
}

CommControl::~CommControl() { Close(); }

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
    if (device_) device_->Apply(wanted);
    settings_ = wanted;
}

void CommControl::Handshaking(int16_t mode) {
    if (mode < 0 || mode > 3)
        RaiseCommError(kCommInvalidPropertyValue,
                       "handshaking is 0 (none) to 3 (RTS/CTS with XON/XOFF), not " + std::to_string(mode));
    LineSettings wanted = settings_;
    wanted.handshake = static_cast<Handshake>(mode);
    if (device_) device_->Apply(wanted);
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

void CommControl::PortOpen(bool open) {
    if (!open) {
        Close();
        return;
    }
    if (PortOpen()) RaiseCommError(kCommPortAlreadyOpen, "COM" + std::to_string(commPort_) + " (" +
                                                             device_->Path() + ") is already open");
    SerialDevice device = SerialDevice::Open(SerialPortPath(commPort_));
    device.Apply(settings_);
    device_.emplace(std::move(device));
    watch_.emplace(loop_->Context(), device_->Fd());
    hangUp_.reset();
    input_.clear();
    output_.clear();
    commEvent_ = 0;
    WatchInput();
}

void CommControl::Close() noexcept {
    if (!device_) return;
    if (watch_) {
        // The device owns the descriptor; the watch only lets go of it.
        asio::error_code ignored;
        watch_->cancel(ignored);
        watch_->release();
        watch_.reset();
    }
    watchingInput_ = watchingOutput_ = false;
    // Unsent output is dropped rather than letting close() wait for a line
    // that XOFF or a missing CTS may hold forever.
    output_.clear();
    device_.reset();
    input_.clear();
}

SerialDevice& CommControl::Open() {
    if (!device_) RaiseCommError(kCommPortNotOpen, "COM" + std::to_string(commPort_) + " is closed");
    return *device_;
}

int16_t CommControl::InBufferCount() {
    Open();
    if (input_.empty() && hangUp_) RaiseCommError(kCommReadError, *hangUp_);
    return Saturated(input_.size());
}

void CommControl::InBufferCount(int16_t count) {
    SerialDevice& device = Open();
    if (count != 0)
        RaiseCommError(kCommInvalidPropertyValue, "InBufferCount can only be set to 0 (discard input), not " +
                                                      std::to_string(count));
    input_.clear();
    device.DiscardInput();
    WatchInput();
}

int16_t CommControl::OutBufferCount() {
    SerialDevice& device = Open();
    Flush();
    return Saturated(output_.size() + device.OutputPending());
}

double CommControl::SecondsUntilDeviceDrained() const {
    return device_ ? device_->SecondsToSend(device_->OutputPending()) : 0.0;
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
    WatchInput();
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
    if (!watch_ || watchingInput_ || hangUp_ || input_.size() >= kInputQueueLimit) return;
    watchingInput_ = true;
    const std::size_t room = std::min(readBuffer_.size(), kInputQueueLimit - input_.size());
    watch_->async_read_some(
        asio::buffer(readBuffer_.data(), room),
        [this, alive = std::weak_ptr<bool>(alive_)](const asio::error_code& ec, std::size_t n) {
            if (alive.expired() || ec == asio::error::operation_aborted) return;
            watchingInput_ = false;
            if (!device_) return;
            if (ec) {
                // End of file is a terminal's hang-up; EIO the same seen from the other side.
                hangUp_ = device_->HangUpDetail(ec == asio::error::eof ? EIO : ec.value(), "reading");
                Raise(comEvCD);
                return;
            }
            TraceTransfer(TraceDirection::Received, [&] { return device_->Path(); }, readBuffer_.data(), n);
            input_.append(readBuffer_.data(), n);
            WatchInput();
            Raise(comEvReceive);
        });
}

void CommControl::WatchOutput() {
    if (!watch_ || watchingOutput_ || output_.empty() || hangUp_) return;
    watchingOutput_ = true;
    watch_->async_wait(asio::posix::descriptor_base::wait_write,
                       [this, alive = std::weak_ptr<bool>(alive_)](const asio::error_code& ec) {
                           if (alive.expired() || ec == asio::error::operation_aborted) return;
                           watchingOutput_ = false;
                           if (!device_) return;
                           try {
                               Flush();
                           } catch (const ComError&) {
                               Raise(comEvCD);
                               return;
                           }
                           if (output_.empty()) Raise(comEvSend);
                       });
}

void CommControl::Raise(int16_t event) {
    commEvent_ = event;
    if (OnComm) OnComm();
}

}  // namespace tessel::serial
