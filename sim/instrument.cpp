#include <algorithm>
#include <cmath>
#include <deque>
#include <stdexcept>

#include <tessel/sim.h>

#include "sim/syntax.h"

namespace tessel::sim {
namespace {

using detail::EqualsIgnoreCase;
using detail::FormatBlock;
using detail::FormatNr3;
using detail::HeaderPattern;
using detail::ParseBlock;
using detail::ParseDecimal;

enum class Cmd {
    Cls, Ese, EseQuery, EsrQuery, IdnQuery, Opc, OpcQuery, Rst, Sre, SreQuery, StbQuery, TstQuery, Wai,
    ErrorQuery, ErrorCountQuery, OpTime, OpTimeQuery, Volt, VoltQuery, MeasVoltQuery, Init, Abort,
    Data, DataQuery, DataLengthQuery, DataSumQuery, SimError,
};

struct Entry {
    HeaderPattern pattern;
    Cmd cmd;
};

const std::vector<Entry>& Table() {
    static const std::vector<Entry> table = [] {
        const std::pair<const char*, Cmd> rows[] = {
            {"*CLS", Cmd::Cls},
            {"*ESE", Cmd::Ese},
            {"*ESE?", Cmd::EseQuery},
            {"*ESR?", Cmd::EsrQuery},
            {"*IDN?", Cmd::IdnQuery},
            {"*OPC", Cmd::Opc},
            {"*OPC?", Cmd::OpcQuery},
            {"*RST", Cmd::Rst},
            {"*SRE", Cmd::Sre},
            {"*SRE?", Cmd::SreQuery},
            {"*STB?", Cmd::StbQuery},
            {"*TST?", Cmd::TstQuery},
            {"*WAI", Cmd::Wai},
            {"SYSTem:ERRor[:NEXT]?", Cmd::ErrorQuery},
            {"SYSTem:ERRor:COUNt?", Cmd::ErrorCountQuery},
            {"SYSTem:OPTime", Cmd::OpTime},
            {"SYSTem:OPTime?", Cmd::OpTimeQuery},
            {"[SOURce]:VOLTage[:LEVel]", Cmd::Volt},
            {"[SOURce]:VOLTage[:LEVel]?", Cmd::VoltQuery},
            {"MEASure:VOLTage[:DC]?", Cmd::MeasVoltQuery},
            {"INITiate[:IMMediate]", Cmd::Init},
            {"ABORt", Cmd::Abort},
            {"DATA", Cmd::Data},
            {"DATA?", Cmd::DataQuery},
            {"DATA:LENGth?", Cmd::DataLengthQuery},
            {"DATA:SUM?", Cmd::DataSumQuery},
            {"SIMulate:ERRor", Cmd::SimError},
        };
        std::vector<Entry> t;
        for (const auto& [pattern, cmd] : rows) t.push_back(Entry{HeaderPattern(pattern), cmd});
        return t;
    }();
    return table;
}

std::optional<Cmd> Lookup(std::string_view header) {
    for (const Entry& e : Table())
        if (e.pattern.Matches(header)) return e.cmd;
    return std::nullopt;
}

// The event bit an error code reports through, 0 for codes outside every class.
uint8_t EventBitFor(int code) {
    if (code > 0) return kDDE;
    switch (-code / 100) {
    case 1: return kCME;
    case 2: return kEXE;
    case 3: return kDDE;
    case 4: return kQYE;
    case 5: return kPON;
    case 6: return kURQ;
    case 7: return kRQC;
    case 8: return kOPC;
    default: return 0;
    }
}

// Codes SIM:ERR and InjectError take: every class of negative codes, and
// positive (device-specific) codes up to 32767.
bool InjectableCode(int code) { return code <= 32767 && EventBitFor(code) != 0; }

// SCPI's stand-in for infinity, also how SYST:OPT? reports kNever.
constexpr double kInfinity = 9.9e37;
constexpr double kMaxOperationSeconds = 1e6;

bool IsKeyword(std::string_view data, std::string_view shortForm, std::string_view longForm) {
    return EqualsIgnoreCase(data, shortForm) || EqualsIgnoreCase(data, longForm);
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string Error::Text() const { return std::to_string(code) + ",\"" + description + "\""; }

std::string ErrorDescription(int code) {
    switch (code) {
    case 0: return "No error";
    case -100: return "Command error";
    case -101: return "Invalid character";
    case -102: return "Syntax error";
    case -103: return "Invalid separator";
    case -104: return "Data type error";
    case -108: return "Parameter not allowed";
    case -109: return "Missing parameter";
    case -113: return "Undefined header";
    case -160: return "Block data error";
    case -161: return "Invalid block data";
    case -200: return "Execution error";
    case -213: return "Init ignored";
    case -220: return "Parameter error";
    case -221: return "Settings conflict";
    case -222: return "Data out of range";
    case -224: return "Illegal parameter value";
    case -225: return "Out of memory";
    case -230: return "Data corrupt or stale";
    case -300: return "Device-specific error";
    case -310: return "System error";
    case -350: return "Queue overflow";
    case -363: return "Input buffer overrun";
    case -400: return "Query error";
    case -410: return "Query INTERRUPTED";
    case -420: return "Query UNTERMINATED";
    case -430: return "Query DEADLOCKED";
    case -500: return "Power on";
    case -600: return "User request";
    case -700: return "Request control";
    case -800: return "Operation complete";
    default: break;
    }
    switch (EventBitFor(code)) {
    case kCME: return "Command error";
    case kEXE: return "Execution error";
    case kDDE: return "Device-specific error";
    case kQYE: return "Query error";
    case kPON: return "Power on";
    case kURQ: return "User request";
    case kRQC: return "Request control";
    case kOPC: return "Operation complete";
    default: return "Unknown error";
    }
}

struct Instrument::Impl {
    struct PendingUnit {
        std::string text;
        bool query = false;
        bool lastOfMessage = false;
    };
    struct Response {
        std::string bytes;
        std::size_t taken = 0;
    };
    enum class Step { Done, Hold };

    Config config;
    Transport transport;
    std::map<Cmd, std::string> fixed;

    // Status.
    uint8_t esr = kPON;
    uint8_t ese = 0;
    uint8_t sre = 0;
    bool rqs = false;
    uint8_t lastSummary = 0;
    std::deque<Error> errors;

    // Operations.
    bool busy = false;
    bool busyForever = false;
    TimePoint busyUntil{};
    bool opcArmed = false;

    // Settings.
    double voltage = 0.0;
    std::chrono::nanoseconds operationTime;
    std::string data;

    // Input and output.
    detail::MessageFramer framer;
    std::deque<PendingUnit> units;
    std::size_t unitBytes = 0;     // text of `units`
    bool discarding = false;       // dropping an overrun message up to its LF
    bool waiting = false;          // the front unit is a *WAI or *OPC? that holds
    std::string response;          // replies of the message being executed
    bool responseStarted = false;
    std::deque<Response> output;
    std::size_t outputBytes = 0;   // not taken yet from `output`
    std::deque<std::string> log;
    std::size_t logBytes = 0;

    Impl(Config c, Transport t) : config(std::move(c)), transport(t), operationTime(config.operationTime) {
        config.errorQueueCapacity = std::max<std::size_t>(2, config.errorQueueCapacity);
        for (const auto& [query, reply] : config.fixedReplies) fixed[QueryCmd(query)] = reply;
    }

    static Cmd QueryCmd(std::string_view query) {
        auto cmd = Lookup(query);
        if (!cmd || query.empty() || query.back() != '?')
            throw std::invalid_argument("not a query of the simulated instrument: " + std::string(query));
        return *cmd;
    }

    // ---- status ----

    bool MessageAvailable() const { return !output.empty() || responseStarted; }

    uint8_t StatusLow() const {
        uint8_t s = 0;
        if (MessageAvailable()) s |= kMAV;
        if (esr & ese) s |= kESB;
        return s;
    }

    uint8_t StatusQuery() const {
        uint8_t s = StatusLow();
        if (s & sre & ~kMSS) s |= kMSS;
        return s;
    }

    // A new reason for service (an enabled bit going from 0 to 1) asserts the
    // request; it is withdrawn when no enabled bit is left, as after *CLS.
    void UpdateStatus() {
        const uint8_t summary = static_cast<uint8_t>(StatusLow() & sre & ~kRQS);
        if (summary & ~lastSummary) rqs = true;
        if (summary == 0) rqs = false;
        lastSummary = summary;
    }

    void PushError(int code) {
        esr |= EventBitFor(code);
        if (errors.size() < config.errorQueueCapacity) {
            errors.push_back(Error{code, ErrorDescription(code)});
        } else if (errors.back().code != -350) {
            errors.back() = Error{-350, ErrorDescription(-350)};
        }
    }

    // ---- operations ----

    void CheckOperations(TimePoint now) {
        if (busy && !busyForever && busyUntil <= now) busy = false;
        if (!busy && opcArmed) {
            esr |= kOPC;
            opcArmed = false;
        }
    }

    void StartOperation(TimePoint now) {
        if (operationTime == kNever) {
            busy = busyForever = true;
            return;
        }
        const TimePoint until = now + operationTime;
        busyUntil = busy ? std::max(busyUntil, until) : until;
        busy = true;
    }

    void AbortOperations() {
        busy = busyForever = false;
    }

    // ---- input ----

    void Receive(std::string_view bytes, bool end, TimePoint now) {
        Update(now);
        while (!bytes.empty()) {
            if (discarding) {
                const std::size_t lf = bytes.find('\n');
                bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
                discarding = lf == std::string_view::npos;
                continue;
            }
            if (framer.Idle()) {
                // Stray terminators (the LF of CR LF, empty lines) are no message.
                if (bytes.front() == '\n' || bytes.front() == '\r') {
                    bytes.remove_prefix(1);
                    continue;
                }
                MessageStarts();
            }
            // One byte past the room left is enough to see an overrun.
            const std::size_t held = unitBytes + framer.Size();
            const std::size_t room = config.inputBufferBytes > held ? config.inputBufferBytes - held : 0;
            bytes.remove_prefix(framer.Feed(bytes.substr(0, room + 1)));
            if (unitBytes + framer.Size() > config.inputBufferBytes) {
                framer.Reset();
                PushError(-363);
                discarding = true;
            } else if (framer.Complete()) {
                Accept(framer.Take(), now);
            }
        }
        if (end) {
            discarding = false;
            framer.Finish();
            if (framer.Complete()) Accept(framer.Take(), now);
        }
        UpdateStatus();
    }

    void MessageStarts() {
        if (transport == Transport::Bus && !output.empty()) {
            output.clear();
            outputBytes = 0;
            PushError(-410);
        }
    }

    void Accept(std::string message, TimePoint now) {
        if (config.messageLogCapacity > 0) {
            logBytes += message.size();
            log.push_back(message);
            while (log.size() > 1 &&
                   (log.size() > config.messageLogCapacity || logBytes > config.messageLogBytes)) {
                logBytes -= log.front().size();
                log.pop_front();
            }
        }
        const auto parts = detail::SplitUnits(message);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const auto unit = detail::ParseUnit(parts[i]);
            units.push_back(PendingUnit{std::string(parts[i]), unit.query, i + 1 == parts.size()});
            unitBytes += parts[i].size();
        }
        Execute(now);
    }

    // Runs units until none is left or one must wait for the operations.
    void Execute(TimePoint now) {
        while (!units.empty()) {
            CheckOperations(now);
            if (Run(units.front(), now) == Step::Hold) {
                waiting = true;
                return;
            }
            waiting = false;
            const bool last = units.front().lastOfMessage;
            unitBytes -= units.front().text.size();
            units.pop_front();
            if (last && responseStarted) {
                response += config.replyTerminator;
                outputBytes += response.size();
                output.push_back(Response{std::move(response), 0});
                response.clear();
                responseStarted = false;
            }
            CheckOperations(now);
            UpdateStatus();
        }
    }

    // Whether a reply of `length` bytes fits beside what is held; records
    // -225 when it does not.
    bool Fits(std::size_t length) {
        const std::size_t held = outputBytes + response.size() + 1 + config.replyTerminator.size();
        if (held <= config.outputBufferBytes && length <= config.outputBufferBytes - held) return true;
        PushError(-225);
        return false;
    }

    void Reply(std::string_view text) {
        if (!Fits(text.size())) return;
        if (responseStarted) response += ';';
        response += text;
        responseStarted = true;
    }

    void Update(TimePoint now) {
        CheckOperations(now);
        Execute(now);
        UpdateStatus();
    }

    // ---- commands ----

    // A number for a command that takes one; records the error and returns
    // nothing when it is missing or no number.
    std::optional<double> Number(std::string_view arg) {
        if (arg.empty()) {
            PushError(-109);
            return std::nullopt;
        }
        auto v = ParseDecimal(arg);
        if (!v) PushError(-222);
        return v;
    }

    // An integer in [lo, hi], rounded as NRf data is.
    std::optional<long long> Integer(std::string_view arg, double lo, double hi) {
        auto v = Number(arg);
        if (!v) return std::nullopt;
        const double r = std::round(*v);
        if (r < lo || r > hi) {
            PushError(-222);
            return std::nullopt;
        }
        return static_cast<long long>(r);
    }

    Step Run(const PendingUnit& pending, TimePoint now) {
        const auto unit = detail::ParseUnit(pending.text);
        const auto cmd = Lookup(unit.header);
        if (!cmd) {
            PushError(-113);
            return Step::Done;
        }
        const std::string_view arg = TrimBlanks(unit.data);
        if (unit.query) {
            if (auto f = fixed.find(*cmd); f != fixed.end()) {
                Reply(f->second);
                return Step::Done;
            }
        }
        const bool takesData = *cmd == Cmd::Ese || *cmd == Cmd::Sre || *cmd == Cmd::OpTime || *cmd == Cmd::Volt ||
                               *cmd == Cmd::Data || *cmd == Cmd::DataQuery || *cmd == Cmd::SimError;
        if (!takesData && !arg.empty()) {
            PushError(-108);
            return Step::Done;
        }

        switch (*cmd) {
        case Cmd::Cls:
            esr = 0;
            errors.clear();
            opcArmed = false;
            break;
        case Cmd::Ese:
            if (auto v = Integer(arg, 0, 255)) ese = static_cast<uint8_t>(*v);
            break;
        case Cmd::EseQuery:
            Reply(std::to_string(ese));
            break;
        case Cmd::EsrQuery:
            Reply(std::to_string(esr));
            esr = 0;
            break;
        case Cmd::IdnQuery:
            Reply(config.identity);
            break;
        case Cmd::Opc:
            opcArmed = true;
            break;
        case Cmd::OpcQuery:
            if (busy) return Step::Hold;
            Reply("1");
            break;
        case Cmd::Wai:
            if (busy) return Step::Hold;
            break;
        case Cmd::Rst:
            AbortOperations();
            opcArmed = false;
            voltage = 0.0;
            operationTime = config.operationTime;
            data.clear();
            break;
        case Cmd::Sre:
            // Bit 6 cannot be enabled: it is the summary itself.
            if (auto v = Integer(arg, 0, 255)) sre = static_cast<uint8_t>(*v & ~kMSS);
            break;
        case Cmd::SreQuery:
            Reply(std::to_string(sre));
            break;
        case Cmd::StbQuery:
            Reply(std::to_string(StatusQuery()));
            break;
        case Cmd::TstQuery:
            Reply("0");
            break;
        case Cmd::ErrorQuery:
            if (errors.empty()) {
                Reply(Error{0, ErrorDescription(0)}.Text());
            } else {
                Reply(errors.front().Text());
                errors.pop_front();
            }
            break;
        case Cmd::ErrorCountQuery:
            Reply(std::to_string(errors.size()));
            break;
        case Cmd::OpTime:
            if (IsKeyword(arg, "INF", "INFINITY")) {
                operationTime = kNever;
            } else if (auto v = Number(arg)) {
                if (*v >= kInfinity) {
                    operationTime = kNever;
                } else if (*v < 0 || *v > kMaxOperationSeconds) {
                    PushError(-222);
                } else {
                    operationTime = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::duration<double>(*v));
                }
            }
            break;
        case Cmd::OpTimeQuery:
            Reply(FormatNr3(operationTime == kNever ? kInfinity
                                                    : std::chrono::duration<double>(operationTime).count()));
            break;
        case Cmd::Volt:
            if (IsKeyword(arg, "MIN", "MINIMUM")) {
                voltage = config.voltageMin;
            } else if (IsKeyword(arg, "MAX", "MAXIMUM")) {
                voltage = config.voltageMax;
            } else if (IsKeyword(arg, "DEF", "DEFAULT")) {
                voltage = 0.0;
            } else if (auto v = Number(arg)) {
                if (*v < config.voltageMin || *v > config.voltageMax)
                    PushError(-222);
                else
                    voltage = *v;
            }
            break;
        case Cmd::VoltQuery:
        case Cmd::MeasVoltQuery:
            Reply(FormatNr3(voltage));
            break;
        case Cmd::Init:
            StartOperation(now);
            break;
        case Cmd::Abort:
            AbortOperations();
            break;
        case Cmd::Data:
            // Not trimmed: a block may end in bytes that look like blanks.
            if (unit.data.empty()) {
                PushError(-109);
            } else if (auto block = ParseBlock(unit.data)) {
                data.assign(*block);
            } else {
                PushError(-161);
            }
            break;
        case Cmd::DataQuery:
            if (auto n = Integer(arg, 0, static_cast<double>(config.maxBlockLength))) {
                if (!Fits(static_cast<std::size_t>(*n) + 2 + std::to_string(*n).size())) break;
                std::string payload(static_cast<std::size_t>(*n), '\0');
                for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i % 256);
                Reply(FormatBlock(payload));
            }
            break;
        case Cmd::DataLengthQuery:
            Reply(std::to_string(data.size()));
            break;
        case Cmd::DataSumQuery: {
            uint32_t sum = 0;
            for (char c : data) sum += static_cast<unsigned char>(c);
            Reply(std::to_string(sum));
            break;
        }
        case Cmd::SimError:
            if (auto v = Integer(arg, -899, 32767)) {
                if (!InjectableCode(static_cast<int>(*v)))
                    PushError(-222);
                else
                    PushError(static_cast<int>(*v));
            }
            break;
        }
        return Step::Done;
    }

    // ---- output ----

    Output Take(std::size_t maxBytes) {
        Output out;
        if (output.empty() || maxBytes == 0) return out;
        Response& r = output.front();
        const std::size_t n = std::min(maxBytes, r.bytes.size() - r.taken);
        out.bytes.assign(r.bytes, r.taken, n);
        r.taken += n;
        outputBytes -= n;
        if (r.taken == r.bytes.size()) {
            out.end = true;
            output.pop_front();
        }
        UpdateStatus();
        return out;
    }

    bool ReplyOnItsWay() const {
        if (responseStarted) return true;
        return std::any_of(units.begin(), units.end(), [](const PendingUnit& u) { return u.query; });
    }
};

Instrument::Instrument(Config config, Transport transport)
    : impl_(std::make_unique<Impl>(std::move(config), transport)) {}
Instrument::~Instrument() = default;
Instrument::Instrument(Instrument&&) noexcept = default;
Instrument& Instrument::operator=(Instrument&&) noexcept = default;

void Instrument::Receive(std::string_view bytes, bool end, TimePoint now) { impl_->Receive(bytes, end, now); }

Output Instrument::TakeOutput(std::size_t maxBytes) { return impl_->Take(maxBytes); }

bool Instrument::HasOutput() const { return !impl_->output.empty(); }

Output Instrument::Talk(std::size_t maxBytes, TimePoint now) {
    impl_->Update(now);
    if (impl_->output.empty()) {
        if (!impl_->ReplyOnItsWay()) {
            impl_->PushError(-420);
            impl_->UpdateStatus();
        }
        return {};
    }
    return impl_->Take(maxBytes);
}

uint8_t Instrument::SerialPoll() {
    const uint8_t stb = static_cast<uint8_t>(impl_->StatusLow() | (impl_->rqs ? kRQS : 0));
    impl_->rqs = false;
    return stb;
}

bool Instrument::ServiceRequest() const { return impl_->rqs; }

void Instrument::DeviceClear() {
    Impl& m = *impl_;
    m.framer.Reset();
    m.discarding = false;
    m.units.clear();
    m.unitBytes = 0;
    m.waiting = false;
    m.response.clear();
    m.responseStarted = false;
    m.output.clear();
    m.outputBytes = 0;
    m.opcArmed = false;
    m.UpdateStatus();
}

std::optional<TimePoint> Instrument::NextDeadline() const {
    if (!impl_->busy || impl_->busyForever) return std::nullopt;
    return impl_->busyUntil;
}

void Instrument::Update(TimePoint now) { impl_->Update(now); }

void Instrument::SetFixedReply(std::string_view query, std::string reply) {
    impl_->fixed[Impl::QueryCmd(query)] = std::move(reply);
}

void Instrument::ClearFixedReply(std::string_view query) { impl_->fixed.erase(Impl::QueryCmd(query)); }

void Instrument::InjectError(int code) {
    if (!InjectableCode(code))
        throw std::invalid_argument("no error class for code " + std::to_string(code));
    impl_->PushError(code);
    impl_->UpdateStatus();
}

std::vector<std::string> Instrument::MessageLog() const { return {impl_->log.begin(), impl_->log.end()}; }

void Instrument::ClearMessageLog() {
    impl_->log.clear();
    impl_->logBytes = 0;
}

const std::string& Instrument::StoredData() const { return impl_->data; }

Snapshot Instrument::State() const {
    const Impl& m = *impl_;
    Snapshot s;
    s.statusByte = m.StatusQuery();
    s.serviceRequest = m.rqs;
    s.eventStatus = m.esr;
    s.eventEnable = m.ese;
    s.serviceEnable = m.sre;
    s.errors.assign(m.errors.begin(), m.errors.end());
    s.operationPending = m.busy;
    s.opcArmed = m.opcArmed;
    s.waiting = m.waiting;
    s.voltage = m.voltage;
    s.operationTime = m.operationTime;
    s.storedDataLength = m.data.size();
    s.outputBytes = m.outputBytes;
    s.inputBytes = m.unitBytes + m.framer.Size();
    return s;
}

const Config& Instrument::Settings() const { return impl_->config; }

Transport Instrument::GetTransport() const { return impl_->transport; }

}  // namespace tessel::sim
