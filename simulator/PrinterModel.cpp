#include "simulator/PrinterModel.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace simulator {

namespace {

constexpr std::uint64_t kVersionPrefixSize = 4;
// The image-info value is the file size less the version prefix and the 2-byte check trailer.
constexpr std::uint64_t kPrefixAndTrailerSize = 6;

std::uint32_t WordAt(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

const char* CommandName(std::uint32_t word) {
    switch (word) {
        case kStartCommand:
            return "StartCommand";
        case kImageInfoCommand:
            return "ImageInfoCommand";
        case kDataHeaderCommand:
            return "DataHeaderCommand";
        case kEndCommand:
            return "EndCommand";
        default:
            return "unknown";
    }
}

// Where the VER: value sits in a device ID: [begin, end).
bool FindVersion(const std::string& deviceId, std::size_t& begin, std::size_t& end) {
    const std::size_t key = deviceId.find("VER:");
    if (key == std::string::npos) {
        return false;
    }
    begin = key + 4;
    end = deviceId.find(';', begin);
    if (end == std::string::npos) {
        end = deviceId.size();
    }
    return true;
}

struct Command {
    std::string name;
    std::array<std::uint32_t, 3> words;
};

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::kFlashed:
            return "flashed";
        case Outcome::kFailed:
            return "failed";
        case Outcome::kUntouched:
        default:
            return "untouched";
    }
}

std::string DecodeImageVersion(const std::uint8_t* prefix) {
    char text[64];
    std::snprintf(
        text, sizeof text, "%d.%d.%d.%d", static_cast<int>(static_cast<std::int8_t>(prefix[1])),
        static_cast<int>(prefix[0]), static_cast<int>(static_cast<std::int8_t>(prefix[3])),
        static_cast<int>(prefix[2]));
    return text;
}

// Everything below runs under PrinterModel::mutex_.
struct PrinterModel::State {
    enum class Phase { kIdle, kStarted, kImageInfo, kData, kDataDone };

    explicit State(const PrinterConfig& config)
        : config(config), deviceId(config.deviceId), faultSpent(config.faults.size(), false) {}
    ~State() { g_checksum_free(sha256); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    const PrinterConfig& config;
    std::string deviceId;

    // Exchange state of the current transfer.
    Phase phase = Phase::kIdle;
    std::int32_t status = kStatusIdle;
    std::uint8_t stage = 0;
    std::uint32_t busyLeft = 0;
    bool sawStart = false;
    bool sawImageInfo = false;
    bool finalAckWithheld = false;
    std::uint32_t imageInfo = 0;
    std::uint64_t dataAnnounced = 0;
    std::uint64_t dataReceived = 0;
    std::array<std::uint8_t, kVersionPrefixSize> prefix{};

    // News for a printer that answers only with news; a restart due after a flash.
    bool news = false;
    bool restartDue = false;

    // What the whole run saw.
    Outcome outcome = Outcome::kUntouched;
    bool disconnected = false;
    std::string devicePath;
    std::uint64_t opens = 0;
    std::uint64_t deviceIdQueries = 0;
    std::uint64_t statusReads = 0;
    std::uint64_t inTransfers = 0;
    std::uint64_t restarts = 0;
    std::uint64_t dataBytes = 0;
    std::map<std::string, std::uint64_t> usbfs = {
        {"opens", 0},         {"claims", 0},        {"refusedClaims", 0},   {"releases", 0},
        {"usblpDetaches", 0}, {"usbfsDetaches", 0}, {"refusedDetaches", 0}, {"usblpAttaches", 0},
        {"controlUrbs", 0},   {"bulkOutUrbs", 0},   {"bulkInUrbs", 0}};
    std::vector<Command> commands;
    std::vector<std::uint64_t> dataWrites;
    GChecksum* sha256 = g_checksum_new(G_CHECKSUM_SHA256);
    std::vector<bool> faultSpent;  // one-shot faults that have struck

    // The first fault of this kind that strikes now (one that strikes once only if it has not
    // yet): its index, or -1.
    int Find(FaultKind kind, const FaultMoment& now = {}) const {
        const bool once = FaultStrikesOnce(kind);
        for (std::size_t i = 0; i < config.faults.size(); ++i) {
            const Fault& fault = config.faults[i];
            if (fault.kind == kind && !(once && faultSpent[i]) && FaultStrikes(fault, now)) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    bool Has(FaultKind kind, const FaultMoment& now = {}) const { return Find(kind, now) >= 0; }

    // As Find, and a fault that strikes once is spent by it.
    const Fault* Strike(FaultKind kind, const FaultMoment& now) {
        const int index = Find(kind, now);
        if (index < 0) {
            return nullptr;
        }
        faultSpent[index] = FaultStrikesOnce(kind);
        return &config.faults[index];
    }

    // The acknowledgement a stage gets after the busy polls, shaped by no-ack and wrong-stage.
    void ScheduleAck(int ackStage) {
        busyLeft = config.busyPolls;
        status = kStatusStageDone;
        stage = static_cast<std::uint8_t>(ackStage);
        for (const Fault& fault : config.faults) {
            FaultMoment now;
            now.ackStage = ackStage;
            const bool applies =
                (fault.kind == FaultKind::kNoAck || fault.kind == FaultKind::kWrongStage) &&
                FaultStrikes(fault, now);
            if (!applies) {
                continue;
            }
            if (fault.kind == FaultKind::kNoAck) {
                // Busy first, so that the idle answer after it cannot pass for "nothing to do".
                busyLeft = std::max<std::uint32_t>(config.busyPolls, 1);
                status = kStatusIdle;
                stage = 0;
            } else {
                stage = static_cast<std::uint8_t>(
                    fault.reportedStage >= 0
                        ? fault.reportedStage
                        : (ackStage == kStageStart ? kStageImageInfo : kStageStart));
            }
            if (ackStage == kStageData) {
                finalAckWithheld = true;
            }
        }
    }

    void TakeData(const std::uint8_t* data, std::size_t size) {
        const std::uint64_t take = std::min<std::uint64_t>(size, dataAnnounced - dataReceived);
        for (std::uint64_t i = 0; i < take && dataReceived + i < kVersionPrefixSize; ++i) {
            prefix[dataReceived + i] = data[i];
        }
        g_checksum_update(sha256, data, static_cast<gssize>(take));
        dataReceived += take;
        dataBytes += take;
        dataWrites.push_back(size);
        if (dataReceived == dataAnnounced) {
            phase = Phase::kDataDone;
            ScheduleAck(kStageData);
            news = true;
        }
    }

    // The printer drops a transfer whose data did not arrive whole; later writes are commands.
    void AbandonTransfer() {
        phase = Phase::kIdle;
        status = kStatusIdle;
        busyLeft = 0;
    }

    ssize_t WriteData(const std::uint8_t* data, std::size_t size, std::uint32_t* unplugAfterMs) {
        FaultMoment now;
        now.dataOffset = dataBytes;
        now.dataSize = size;
        if (const Fault* stall = Strike(FaultKind::kStallWrite, now)) {
            if (unplugAfterMs != nullptr) {
                *unplugAfterMs = stall->unplugAfterMs;
            }
            return kOutStalled;
        }
        if (Strike(FaultKind::kDisconnect, now) != nullptr) {
            disconnected = true;
            return -ENODEV;
        }
        if (const Fault* failure = Strike(FaultKind::kWriteError, now)) {
            AbandonTransfer();
            return -failure->error;
        }
        if (const Fault* shortWrite = Strike(FaultKind::kShortWrite, now)) {
            const auto accepted = static_cast<std::size_t>(shortWrite->atDataByte - dataBytes);
            TakeData(data, accepted);
            AbandonTransfer();
            return static_cast<ssize_t>(accepted);
        }
        TakeData(data, size);
        return static_cast<ssize_t>(size);
    }

    void FinishTransfer() {
        const bool complete = sawStart && sawImageInfo && phase == Phase::kDataDone;
        if (complete && !finalAckWithheld) {
            outcome = Outcome::kFlashed;
            restartDue = config.restart == PrinterConfig::Restart::kYes;
            // The printer can tell whether the version prefix came along: the image-info value
            // counts the image without prefix and trailer. One that comes back from its restart
            // with the old firmware has failed to take the new one.
            const bool prefixArrived = dataAnnounced >= kVersionPrefixSize &&
                                       dataAnnounced == imageInfo + kPrefixAndTrailerSize;
            const bool keepsOld = restartDue && config.afterRestart == AfterRestart::kOldVersion;
            if (prefixArrived && !keepsOld) {
                SetVersion(DecodeImageVersion(prefix.data()));
            }
        } else if (sawStart) {
            outcome = Outcome::kFailed;
        }
        phase = Phase::kIdle;
        status = kStatusIdle;
        stage = 0;
        busyLeft = 0;
        sawStart = sawImageInfo = false;
    }

    void SetVersion(const std::string& version) {
        std::size_t begin = 0;
        std::size_t end = 0;
        if (FindVersion(deviceId, begin, end)) {
            deviceId.replace(begin, end - begin, version);
        } else {
            deviceId += "VER:" + version + ";";
        }
    }

    ssize_t WriteCommand(const std::uint8_t* data, std::size_t size) {
        std::array<std::uint8_t, kCommandSize> bytes{};
        std::memcpy(bytes.data(), data, std::min(size, kCommandSize));
        const std::array<std::uint32_t, 3> words = {WordAt(&bytes[0]), WordAt(&bytes[4]),
                                                    WordAt(&bytes[8])};
        const std::string name = size == kCommandSize ? CommandName(words[0]) : "unknown";
        FaultMoment now;
        now.command = name.c_str();
        if (const Fault* failure = Strike(FaultKind::kWriteError, now)) {
            return -failure->error;
        }
        commands.push_back({name, words});
        news = true;
        if (name == "StartCommand") {
            outcome = Outcome::kFailed;
            sawStart = true;
            sawImageInfo = false;
            finalAckWithheld = false;
            phase = Phase::kStarted;
            ScheduleAck(kStageStart);
        } else if (name == "ImageInfoCommand") {
            imageInfo = words[2];
            sawImageInfo = true;
            phase = Phase::kImageInfo;
            ScheduleAck(kStageImageInfo);
        } else if (name == "DataHeaderCommand") {
            dataAnnounced = words[1];
            dataReceived = 0;
            prefix.fill(0);
            phase = Phase::kData;
            if (dataAnnounced == 0) {
                phase = Phase::kDataDone;
                ScheduleAck(kStageData);
            }
        } else if (name == "EndCommand") {
            FinishTransfer();
        }
        return static_cast<ssize_t>(size);
    }

    // Fills record with the answer to one status read.
    void NextStatus(std::array<std::uint8_t, kStatusRecordSize>& record) {
        std::int32_t word = status;
        std::uint8_t stageByte = stage;
        if (Has(FaultKind::kBusyForever)) {
            word = kStatusBusy;
            stageByte = 0;
        } else if (Has(FaultKind::kIdleOnly)) {
            word = kStatusIdle;
            stageByte = 0;
        } else if (busyLeft > 0) {
            --busyLeft;
            word = kStatusBusy;
            stageByte = 0;
        }
        record.fill(0);
        const auto bits = static_cast<std::uint32_t>(word);
        for (int i = 0; i < 4; ++i) {
            record[i] = static_cast<std::uint8_t>(bits >> (8 * i));
        }
        record[kStatusStageByte] = stageByte;
    }

    // The fault of this kind that hits IN transfer number `in`, if any.
    const Fault* InFault(FaultKind kind, std::uint64_t in) const {
        FaultMoment now;
        now.inTransfer = in;
        const int index = Find(kind, now);
        return index >= 0 ? &config.faults[index] : nullptr;
    }

    InAnswer AnswerIn() {
        InAnswer answer;
        const std::uint64_t in = ++inTransfers;
        news = false;
        if (const Fault* failure = InFault(FaultKind::kStatusReadError, in)) {
            answer.error = -failure->error;
            return answer;
        }
        if (const Fault* stall = InFault(FaultKind::kStallRead, in)) {
            answer.delayMs = stall->ms;
        }
        if (InFault(FaultKind::kZeroLengthRead, in) != nullptr) {
            return answer;
        }
        // A printer counting down its busy answers has news for the next transfer too.
        news = busyLeft > 0 && !Has(FaultKind::kBusyForever) && !Has(FaultKind::kIdleOnly);
        const bool twice = InFault(FaultKind::kDoubleRecord, in) != nullptr;
        answer.bytes.resize(twice ? 2 * kStatusRecordSize : kStatusRecordSize);
        std::array<std::uint8_t, kStatusRecordSize> record;
        for (std::size_t offset = 0; offset < answer.bytes.size(); offset += record.size()) {
            NextStatus(record);
            std::memcpy(answer.bytes.data() + offset, record.data(), record.size());
        }
        if (const Fault* shortRecord = InFault(FaultKind::kShortRecord, in)) {
            answer.bytes.resize(shortRecord->bytes);
        }
        return answer;
    }
};

PrinterModel::PrinterModel(PrinterConfig config)
    : config_(std::move(config)), state_(std::make_unique<State>(config_)) {}

PrinterModel::~PrinterModel() = default;

ssize_t PrinterModel::ReceiveOut(const std::uint8_t* data, std::size_t size,
                                 std::uint32_t* unplugAfterMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    State& s = *state_;
    if (s.disconnected) {
        return -ENODEV;
    }
    if (data == nullptr && size > 0) {
        return -EFAULT;
    }
    if (s.phase == State::Phase::kData && size > 0) {
        return s.WriteData(data, size, unplugAfterMs);
    }
    return s.WriteCommand(data, size);
}

InAnswer PrinterModel::AnswerIn() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_->disconnected) {
        InAnswer gone;
        gone.error = -ENODEV;
        return gone;
    }
    return state_->AnswerIn();
}

bool PrinterModel::HasNews() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->news || state_->Has(FaultKind::kBusyForever);
}

int PrinterModel::AnswerDeviceId(std::size_t maxLength, std::vector<std::uint8_t>& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    State& s = *state_;
    if (s.disconnected) {
        return -ENODEV;
    }
    ++s.deviceIdQueries;
    const int failure = s.Find(FaultKind::kNoDeviceId);
    if (failure >= 0) {
        return -config_.faults[failure].error;
    }
    const std::size_t length = s.deviceId.size() + 2;
    std::uint16_t prefix = static_cast<std::uint16_t>(length);
    if (config_.lengthPrefix == LengthPrefix::kLittle) {
        prefix = static_cast<std::uint16_t>((length & 0xFF) << 8 | (length >> 8 & 0xFF));
    } else if (config_.lengthPrefix == LengthPrefix::kFixed) {
        prefix = config_.prefixValue;
    }
    answer.assign({static_cast<std::uint8_t>(prefix >> 8), static_cast<std::uint8_t>(prefix)});
    answer.insert(answer.end(), s.deviceId.begin(), s.deviceId.end());
    answer.resize(std::min(answer.size(), maxLength));
    return 0;
}

void PrinterModel::NoteOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_->opens;
}

void PrinterModel::NoteRead() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_->statusReads;
}

void PrinterModel::NoteUsbfs(const char* key) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_->usbfs[key];
}

bool PrinterModel::TakeRestart() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool due = state_->restartDue;
    state_->restartDue = false;
    return due;
}

void PrinterModel::Reattached() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_->restarts;
    state_->news = false;
}

template <typename T>
T PrinterModel::Get(T State::*field) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.get()->*field;
}

bool PrinterModel::Held() const {
    return state_->Has(FaultKind::kHeld);
}

bool PrinterModel::Disconnected() const {
    return Get(&State::disconnected);
}

void PrinterModel::SetDevicePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->devicePath = path;
}

std::string PrinterModel::DevicePath() const {
    return Get(&State::devicePath);
}

std::uint64_t PrinterModel::Opens() const {
    return Get(&State::opens);
}

std::uint64_t PrinterModel::DeviceIdQueries() const {
    return Get(&State::deviceIdQueries);
}

std::uint64_t PrinterModel::StatusReads() const {
    return Get(&State::statusReads);
}

std::uint64_t PrinterModel::InTransfers() const {
    return Get(&State::inTransfers);
}

std::uint64_t PrinterModel::DataBytes() const {
    return Get(&State::dataBytes);
}

std::uint64_t PrinterModel::Restarts() const {
    return Get(&State::restarts);
}

Outcome PrinterModel::GetOutcome() const {
    return Get(&State::outcome);
}

std::string PrinterModel::DeviceId() const {
    return Get(&State::deviceId);
}

std::string PrinterModel::FirmwareVersion() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!FindVersion(state_->deviceId, begin, end)) {
        return {};
    }
    return state_->deviceId.substr(begin, end - begin);
}

nlohmann::json PrinterModel::Transcript() const {
    const std::string version = FirmwareVersion();
    std::lock_guard<std::mutex> lock(mutex_);
    const State& s = *state_;
    nlohmann::json commands = nlohmann::json::array();
    for (const Command& command : s.commands) {
        commands.push_back({{"name", command.name}, {"words", command.words}});
    }
    // A copy, because reading the digest closes a GChecksum for further updates.
    GChecksum* digest = g_checksum_copy(s.sha256);
    const std::string sha256 = g_checksum_get_string(digest);
    g_checksum_free(digest);
    nlohmann::json transcript = {
        {"devicePath", s.devicePath},
        {"opens", s.opens},
        {"deviceIdQueries", s.deviceIdQueries},
        {"statusReads", s.statusReads},
        {"inTransfers", s.inTransfers},
        {"commands", commands},
        {"dataWrites", s.dataWrites},
        {"dataBytes", s.dataBytes},
        {"dataSha256", sha256},
        {"outcome", OutcomeName(s.outcome)},
        {"restarts", s.restarts},
        {"firmwareVersion", version.empty() ? nlohmann::json(nullptr) : nlohmann::json(version)},
        {"usbfs", s.usbfs},
    };
    return transcript;
}

}  // namespace simulator
