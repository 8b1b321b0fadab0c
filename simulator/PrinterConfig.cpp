#include "simulator/PrinterConfig.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "platform/IntegerText.h"

namespace simulator {

namespace {

using nlohmann::json;

const char* const kCommandNames[] = {"StartCommand", "ImageInfoCommand", "DataHeaderCommand",
                                     "EndCommand"};

// Parse problems travel as this exception inside the parser only; ParseScenario turns it into
// its false result.
struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw ScenarioError(where + ": " + what);
}

void RefuseUnknownKeys(const json& object, const std::string& where,
                       const std::vector<const char*>& allowed) {
    for (const auto& item : object.items()) {
        const bool known = std::any_of(allowed.begin(), allowed.end(),
                                       [&](const char* key) { return item.key() == key; });
        if (!known) {
            Fail(where, "unknown key \"" + item.key() + "\"");
        }
    }
}

std::int64_t Integer(const json& object, const char* key, const std::string& where,
                     std::int64_t min, std::int64_t max) {
    const json& value = object.at(key);
    if (!value.is_number_integer()) {
        Fail(where, std::string("\"") + key + "\" must be an integer");
    }
    const std::int64_t number = value.get<std::int64_t>();
    if (number < min || number > max) {
        Fail(where, std::string("\"") + key + "\" must be between " + std::to_string(min) +
                        " and " + std::to_string(max));
    }
    return number;
}

int Stage(const json& object, const char* key, const std::string& where) {
    const std::int64_t stage = Integer(object, key, where, 0, 255);
    if (stage != 1 && stage != 2 && stage != 255) {
        Fail(where, std::string("\"") + key + "\" must be 1, 2 or 255");
    }
    return static_cast<int>(stage);
}

std::uint16_t Hex16(const json& value, const std::string& where) {
    if (value.is_number_integer()) {
        const std::int64_t number = value.get<std::int64_t>();
        if (number >= 0 && number <= 0xFFFF) {
            return static_cast<std::uint16_t>(number);
        }
    } else if (value.is_string()) {
        std::string text = value.get<std::string>();
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            text.erase(0, 2);
        }
        const bool hex = !text.empty() && text.size() <= 4 &&
                         std::all_of(text.begin(), text.end(),
                                     [](unsigned char c) { return std::isxdigit(c) != 0; });
        if (hex) {
            std::int32_t number = 0;
            platform::ParseIntegerText(text, number, 16);
            return static_cast<std::uint16_t>(number);
        }
    }
    Fail(where, "must be a 16-bit number in hex, e.g. \"04b8\"");
}

template <typename T, T Fault::*field, std::int64_t min, std::int64_t max>
void ReadInteger(const json& entry, const char* key, const std::string& at, Fault& fault) {
    fault.*field = static_cast<T>(Integer(entry, key, at, min, max));
}

void ReadStage(const json& entry, const char* key, const std::string& at, Fault& fault) {
    fault.stage = Stage(entry, key, at);
}

void ReadReportedStage(const json& entry, const char* key, const std::string& at, Fault& fault) {
    fault.reportedStage = static_cast<int>(Integer(entry, key, at, 0, 255));
    if (fault.reportedStage == fault.stage) {
        Fail(at, "\"reportedStage\" must differ from \"stage\"");
    }
}

void ReadCommand(const json& entry, const char* key, const std::string& at, Fault& fault) {
    const json& command = entry[key];
    const bool known =
        command.is_string() &&
        std::any_of(std::begin(kCommandNames), std::end(kCommandNames),
                    [&](const char* name) { return command.get<std::string>() == name; });
    if (!known) {
        Fail(at,
             "\"command\" must be StartCommand, ImageInfoCommand, DataHeaderCommand or EndCommand");
    }
    fault.command = command.get<std::string>();
}

using ParamReader = void (*)(const json&, const char*, const std::string&, Fault&);

// One parameter of a fault, read only when the entry has it (or refused as missing).
struct FaultParam {
    const char* key = nullptr;
    ParamReader read = nullptr;
    bool required = false;
};

const FaultParam kStageParam{"stage", ReadStage};
const FaultParam kReportedStageParam{"reportedStage", ReadReportedStage};
const FaultParam kCommandParam{"command", ReadCommand};
const FaultParam kErrnoParam{"errno", ReadInteger<int, &Fault::error, 1, 4095>};
const FaultParam kAfterReadsParam{"afterReads",
                                  ReadInteger<std::uint32_t, &Fault::afterReads, 0, UINT32_MAX>};
const FaultParam kAtReadParam{"atRead", ReadInteger<std::uint32_t, &Fault::atRead, 1, UINT32_MAX>};
const FaultParam kMsParam{"ms", ReadInteger<std::uint32_t, &Fault::ms, 0, 600000>, true};
const FaultParam kBytesParam{"bytes", ReadInteger<std::uint32_t, &Fault::bytes, 0, 11>};
const FaultParam kUnplugAfterMsParam{"unplugAfterMs",
                                     ReadInteger<std::uint32_t, &Fault::unplugAfterMs, 0, 600000>};
const FaultParam kAtDataByteParam{"atDataByte",
                                  ReadInteger<std::int64_t, &Fault::atDataByte, 0, INT64_MAX>};
const FaultParam kNeedsDataByteParam{kAtDataByteParam.key, kAtDataByteParam.read, true};

bool Always(const Fault&, const FaultMoment&) {
    return true;
}

bool AtAck(const Fault& fault, const FaultMoment& now) {
    return now.ackStage >= 0 && (fault.stage == 0 || fault.stage == now.ackStage);
}

bool AtRead(const Fault& fault, const FaultMoment& now) {
    return fault.atRead == now.inTransfer;
}

bool AfterReads(const Fault& fault, const FaultMoment& now) {
    return now.inTransfer > fault.afterReads;
}

bool AtDataByte(const Fault& fault, const FaultMoment& now) {
    return fault.atDataByte >= 0 &&
           static_cast<std::uint64_t>(fault.atDataByte) >= now.dataOffset &&
           static_cast<std::uint64_t>(fault.atDataByte) < now.dataOffset + now.dataSize;
}

bool AtCommandOrDataByte(const Fault& fault, const FaultMoment& now) {
    return now.command != nullptr ? fault.command == now.command : AtDataByte(fault, now);
}

// One fault kind: its scenario name, its parameters in the order they are read, and when it
// strikes. With eitherOfFirstTwo exactly one of the first two parameters must be given.
struct FaultRow {
    FaultKind kind;
    const char* name;
    bool (*strikes)(const Fault&, const FaultMoment&);
    bool once;
    std::array<FaultParam, 3> params;
    bool eitherOfFirstTwo = false;
};

const FaultRow kFaultRows[] = {
    {FaultKind::kNoAck, "no-ack", AtAck, false, {kStageParam}},
    {FaultKind::kWrongStage, "wrong-stage", AtAck, false, {kStageParam, kReportedStageParam}},
    {FaultKind::kIdleOnly, "idle-only", Always, false, {}},
    {FaultKind::kBusyForever, "busy-forever", Always, false, {}},
    {FaultKind::kStatusReadError,
     "status-read-error",
     AfterReads,
     false,
     {kAfterReadsParam, kErrnoParam}},
    {FaultKind::kWriteError,
     "write-error",
     AtCommandOrDataByte,
     true,
     {kCommandParam, kAtDataByteParam, kErrnoParam},
     true},
    {FaultKind::kShortWrite, "short-write", AtDataByte, true, {kNeedsDataByteParam}},
    {FaultKind::kDisconnect, "disconnect", AtDataByte, true, {kNeedsDataByteParam}},
    {FaultKind::kStallRead, "stall-read", AtRead, false, {kMsParam, kAtReadParam}},
    {FaultKind::kNoDeviceId, "no-device-id", Always, false, {kErrnoParam}},
    {FaultKind::kHeld, "held", Always, false, {}},
    {FaultKind::kStallWrite,
     "stall-write",
     AtDataByte,
     true,
     {kNeedsDataByteParam, kUnplugAfterMsParam}},
    {FaultKind::kShortRecord, "short-record", AtRead, false, {kAtReadParam, kBytesParam}},
    {FaultKind::kDoubleRecord, "double-record", AtRead, false, {kAtReadParam}},
    {FaultKind::kZeroLengthRead, "zero-length-read", AtRead, false, {kAtReadParam}},
};

const FaultRow* RowOf(FaultKind kind) {
    const auto row = std::find_if(std::begin(kFaultRows), std::end(kFaultRows),
                                  [kind](const FaultRow& r) { return r.kind == kind; });
    return row != std::end(kFaultRows) ? row : nullptr;
}

Fault ParseFault(const json& entry, const std::string& where) {
    if (!entry.is_object()) {
        Fail(where, "a fault must be an object with a \"kind\"");
    }
    if (!entry.contains("kind") || !entry["kind"].is_string()) {
        Fail(where, "\"kind\" is missing");
    }
    const std::string kindName = entry["kind"].get<std::string>();
    const auto row = std::find_if(std::begin(kFaultRows), std::end(kFaultRows),
                                  [&](const FaultRow& r) { return kindName == r.name; });
    if (row == std::end(kFaultRows)) {
        Fail(where, "unknown fault kind \"" + kindName + "\"");
    }
    Fault fault;
    fault.kind = row->kind;
    const std::string at = where + " (" + kindName + ")";
    std::vector<const char*> allowed = {"kind"};
    for (const FaultParam& param : row->params) {
        if (param.key != nullptr) {
            allowed.push_back(param.key);
        }
    }
    RefuseUnknownKeys(entry, at, allowed);
    const char* first = row->params[0].key;
    const char* second = row->params[1].key;
    if (row->eitherOfFirstTwo && entry.contains(first) == entry.contains(second)) {
        Fail(at, std::string("give either \"") + first + "\" or \"" + second + "\"");
    }
    for (const FaultParam& param : row->params) {
        if (param.key == nullptr) {
            continue;
        }
        if (entry.contains(param.key)) {
            param.read(entry, param.key, at, fault);
        } else if (param.required) {
            Fail(at, std::string("\"") + param.key + "\" is missing");
        }
    }
    return fault;
}

std::string HexBytes(const json& value, const std::string& where) {
    const bool text = value.is_string() && value.get<std::string>().size() % 2 == 0;
    const std::string digits = text ? value.get<std::string>() : std::string();
    if (!text || !std::all_of(digits.begin(), digits.end(),
                              [](unsigned char c) { return std::isxdigit(c) != 0; })) {
        Fail(where, "must be a string of hex digit pairs");
    }
    std::string bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        std::int32_t byte = 0;
        platform::ParseIntegerText(digits.substr(i, 2), byte, 16);
        bytes += static_cast<char>(byte);
    }
    return bytes;
}

// true, false, or {"delayMs": N, "returns": "new" | "old" | "never"}.
void ParseRestart(const json& value, const std::string& where, PrinterConfig& config) {
    if (value.is_boolean()) {
        config.restart =
            value.get<bool>() ? PrinterConfig::Restart::kYes : PrinterConfig::Restart::kNo;
        return;
    }
    if (!value.is_object()) {
        Fail(where, "must be true, false or an object");
    }
    RefuseUnknownKeys(value, where, {"delayMs", "returns"});
    config.restart = PrinterConfig::Restart::kYes;
    if (value.contains("delayMs")) {
        config.restartDelayMs =
            static_cast<std::uint32_t>(Integer(value, "delayMs", where, 0, 600000));
    }
    if (value.contains("returns")) {
        const json& returns = value["returns"];
        if (returns == "new") {
            config.afterRestart = AfterRestart::kNewVersion;
        } else if (returns == "old") {
            config.afterRestart = AfterRestart::kOldVersion;
        } else if (returns == "never") {
            config.afterRestart = AfterRestart::kGone;
        } else {
            Fail(where, "\"returns\" must be \"new\", \"old\" or \"never\"");
        }
    }
}

void CheckDeviceId(const std::string& deviceId, const std::string& where) {
    std::string error;
    if (!ValidateDeviceId(deviceId, error)) {
        Fail(where, error);
    }
}

PrinterConfig ParsePrinter(const json& entry, const std::string& where) {
    if (!entry.is_object()) {
        Fail(where, "a printer must be an object");
    }
    RefuseUnknownKeys(entry, where,
                      {"deviceId", "deviceIdHex", "usb", "busyPolls", "lengthPrefix", "answers",
                       "restart", "faults"});
    PrinterConfig config;
    if (entry.contains("deviceId") == entry.contains("deviceIdHex")) {
        Fail(where, "give either \"deviceId\" (a string, may be empty) or \"deviceIdHex\"");
    }
    if (entry.contains("deviceId")) {
        if (!entry["deviceId"].is_string()) {
            Fail(where, "\"deviceId\" must be a string");
        }
        config.deviceId = entry["deviceId"].get<std::string>();
    } else {
        config.deviceId = HexBytes(entry["deviceIdHex"], where + ".deviceIdHex");
    }
    CheckDeviceId(config.deviceId, where + ".deviceId");

    if (entry.contains("usb")) {
        const json& usb = entry["usb"];
        const std::string at = where + ".usb";
        if (!usb.is_object()) {
            Fail(at, "must be an object");
        }
        RefuseUnknownKeys(usb, at, {"idVendor", "idProduct", "serial", "port"});
        if (usb.contains("port")) {
            config.port = static_cast<int>(Integer(usb, "port", at, 1, kMaxPrinters));
        }
        if (usb.contains("idVendor")) {
            config.idVendor = Hex16(usb["idVendor"], at + ".idVendor");
        }
        if (usb.contains("idProduct")) {
            config.idProduct = Hex16(usb["idProduct"], at + ".idProduct");
        }
        if (usb.contains("serial")) {
            const json& serial = usb["serial"];
            const bool usable = serial.is_string() && !serial.get<std::string>().empty() &&
                                std::none_of(serial.get_ref<const std::string&>().begin(),
                                             serial.get_ref<const std::string&>().end(),
                                             [](unsigned char c) { return c < 0x20 || c == 0x7F; });
            if (!usable) {
                Fail(at + ".serial", "must be a non-empty string without control characters");
            }
            config.serial = serial.get<std::string>();
        }
    }
    if (entry.contains("busyPolls")) {
        config.busyPolls =
            static_cast<std::uint32_t>(Integer(entry, "busyPolls", where, 0, 1000000));
    }
    if (entry.contains("lengthPrefix")) {
        const json& order = entry["lengthPrefix"];
        if (order == "big") {
            config.lengthPrefix = LengthPrefix::kBig;
        } else if (order == "little") {
            config.lengthPrefix = LengthPrefix::kLittle;
        } else if (order.is_number_integer()) {
            config.lengthPrefix = LengthPrefix::kFixed;
            config.prefixValue =
                static_cast<std::uint16_t>(Integer(entry, "lengthPrefix", where, 0, 0xFFFF));
        } else {
            Fail(where, "\"lengthPrefix\" must be \"big\", \"little\" or a number 0-65535");
        }
    }
    if (entry.contains("answers")) {
        const json& answers = entry["answers"];
        if (answers == "at-once") {
            config.answers = Answers::kAtOnce;
        } else if (answers == "on-news") {
            config.answers = Answers::kOnNews;
        } else {
            Fail(where, "\"answers\" must be \"at-once\" or \"on-news\"");
        }
    }
    if (entry.contains("restart")) {
        ParseRestart(entry["restart"], where + ".restart", config);
    }
    if (entry.contains("faults")) {
        const json& faults = entry["faults"];
        if (!faults.is_array()) {
            Fail(where, "\"faults\" must be an array");
        }
        for (std::size_t i = 0; i < faults.size(); ++i) {
            config.faults.push_back(
                ParseFault(faults[i], where + ".faults[" + std::to_string(i) + "]"));
        }
    }
    return config;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
    const FaultRow* row = RowOf(kind);
    return row != nullptr ? row->name : "unknown";
}

bool FaultStrikes(const Fault& fault, const FaultMoment& moment) {
    const FaultRow* row = RowOf(fault.kind);
    return row != nullptr && row->strikes(fault, moment);
}

bool FaultStrikesOnce(FaultKind kind) {
    const FaultRow* row = RowOf(kind);
    return row != nullptr && row->once;
}

bool ValidateDeviceId(const std::string& deviceId, std::string& error) {
    if (deviceId.size() > kMaxDeviceIdLength) {
        error = "the device ID is " + std::to_string(deviceId.size()) +
                " bytes long; a simulated printer sends at most " +
                std::to_string(kMaxDeviceIdLength);
        return false;
    }
    return true;
}

bool ParseScenario(const std::string& jsonText, std::vector<PrinterConfig>& out,
                   std::string& error) {
    const json document = json::parse(jsonText, nullptr, false);
    if (document.is_discarded()) {
        error = "not valid JSON";
        return false;
    }
    try {
        if (!document.is_object()) {
            Fail("scenario", "must be an object with \"printers\"");
        }
        RefuseUnknownKeys(document, "scenario", {"printers"});
        if (!document.contains("printers") || !document["printers"].is_array()) {
            Fail("scenario", "\"printers\" must be an array");
        }
        std::vector<PrinterConfig> printers;
        const json& list = document["printers"];
        if (list.size() > kMaxPrinters) {
            Fail("scenario", "usblp has " + std::to_string(kMaxPrinters) + " minors; " +
                                 std::to_string(list.size()) + " printers cannot be emulated");
        }
        for (std::size_t i = 0; i < list.size(); ++i) {
            printers.push_back(ParsePrinter(list[i], "printers[" + std::to_string(i) + "]"));
        }
        out = std::move(printers);
        return true;
    } catch (const ScenarioError& e) {
        error = e.what();
    } catch (const json::exception& e) {
        error = e.what();
    }
    return false;
}

}  // namespace simulator
