#include "simulator/PrinterConfig.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace simulator {

namespace {

using nlohmann::json;

struct KindName {
    FaultKind kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {FaultKind::kNoAck, "no-ack"},
    {FaultKind::kWrongStage, "wrong-stage"},
    {FaultKind::kIdleOnly, "idle-only"},
    {FaultKind::kBusyForever, "busy-forever"},
    {FaultKind::kStatusReadError, "status-read-error"},
    {FaultKind::kWriteError, "write-error"},
    {FaultKind::kShortWrite, "short-write"},
    {FaultKind::kDisconnect, "disconnect"},
    {FaultKind::kStallRead, "stall-read"},
    {FaultKind::kNoDeviceId, "no-device-id"},
    {FaultKind::kHeld, "held"},
    {FaultKind::kStallWrite, "stall-write"},
    {FaultKind::kShortRecord, "short-record"},
    {FaultKind::kDoubleRecord, "double-record"},
    {FaultKind::kZeroLengthRead, "zero-length-read"},
};

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
                       std::initializer_list<const char*> allowed) {
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
            return static_cast<std::uint16_t>(std::stoul(text, nullptr, 16));
        }
    }
    Fail(where, "must be a 16-bit number in hex, e.g. \"04b8\"");
}

Fault ParseFault(const json& entry, const std::string& where) {
    if (!entry.is_object()) {
        Fail(where, "a fault must be an object with a \"kind\"");
    }
    if (!entry.contains("kind") || !entry["kind"].is_string()) {
        Fail(where, "\"kind\" is missing");
    }
    const std::string kindName = entry["kind"].get<std::string>();
    const auto found = std::find_if(std::begin(kKindNames), std::end(kKindNames),
                                    [&](const KindName& k) { return kindName == k.name; });
    if (found == std::end(kKindNames)) {
        Fail(where, "unknown fault kind \"" + kindName + "\"");
    }
    Fault fault;
    fault.kind = found->kind;
    const std::string at = where + " (" + kindName + ")";
    auto readErrno = [&]() {
        if (entry.contains("errno")) {
            fault.error = static_cast<int>(Integer(entry, "errno", at, 1, 4095));
        }
    };
    auto readAtRead = [&]() {
        if (entry.contains("atRead")) {
            fault.atRead = static_cast<std::uint32_t>(Integer(entry, "atRead", at, 1, UINT32_MAX));
        }
    };
    auto requireDataByte = [&]() {
        if (!entry.contains("atDataByte")) {
            Fail(at, "\"atDataByte\" is missing");
        }
        fault.atDataByte = Integer(entry, "atDataByte", at, 0, INT64_MAX);
    };
    switch (fault.kind) {
        case FaultKind::kNoAck:
            RefuseUnknownKeys(entry, at, {"kind", "stage"});
            if (entry.contains("stage")) {
                fault.stage = Stage(entry, "stage", at);
            }
            break;
        case FaultKind::kWrongStage:
            RefuseUnknownKeys(entry, at, {"kind", "stage", "reportedStage"});
            if (entry.contains("stage")) {
                fault.stage = Stage(entry, "stage", at);
            }
            if (entry.contains("reportedStage")) {
                fault.reportedStage = static_cast<int>(Integer(entry, "reportedStage", at, 0, 255));
                if (fault.reportedStage == fault.stage) {
                    Fail(at, "\"reportedStage\" must differ from \"stage\"");
                }
            }
            break;
        case FaultKind::kIdleOnly:
        case FaultKind::kBusyForever:
        case FaultKind::kHeld:
            RefuseUnknownKeys(entry, at, {"kind"});
            break;
        case FaultKind::kNoDeviceId:
            RefuseUnknownKeys(entry, at, {"kind", "errno"});
            readErrno();
            break;
        case FaultKind::kStatusReadError:
            RefuseUnknownKeys(entry, at, {"kind", "afterReads", "errno"});
            if (entry.contains("afterReads")) {
                fault.afterReads =
                    static_cast<std::uint32_t>(Integer(entry, "afterReads", at, 0, UINT32_MAX));
            }
            readErrno();
            break;
        case FaultKind::kWriteError:
            RefuseUnknownKeys(entry, at, {"kind", "command", "atDataByte", "errno"});
            if (entry.contains("command") == entry.contains("atDataByte")) {
                Fail(at, "give either \"command\" or \"atDataByte\"");
            }
            if (entry.contains("command")) {
                const json& command = entry["command"];
                const bool known = command.is_string() &&
                                   std::any_of(std::begin(kCommandNames), std::end(kCommandNames),
                                               [&](const char* name) {
                                                   return command.get<std::string>() == name;
                                               });
                if (!known) {
                    Fail(at,
                         "\"command\" must be StartCommand, ImageInfoCommand, DataHeaderCommand "
                         "or EndCommand");
                }
                fault.command = command.get<std::string>();
            } else {
                requireDataByte();
            }
            readErrno();
            break;
        case FaultKind::kShortWrite:
        case FaultKind::kDisconnect:
            RefuseUnknownKeys(entry, at, {"kind", "atDataByte"});
            requireDataByte();
            break;
        case FaultKind::kStallRead:
            RefuseUnknownKeys(entry, at, {"kind", "ms", "atRead"});
            if (!entry.contains("ms")) {
                Fail(at, "\"ms\" is missing");
            }
            fault.ms = static_cast<std::uint32_t>(Integer(entry, "ms", at, 0, 600000));
            readAtRead();
            break;
        case FaultKind::kStallWrite:
            RefuseUnknownKeys(entry, at, {"kind", "atDataByte", "unplugAfterMs"});
            requireDataByte();
            if (entry.contains("unplugAfterMs")) {
                fault.unplugAfterMs =
                    static_cast<std::uint32_t>(Integer(entry, "unplugAfterMs", at, 0, 600000));
            }
            break;
        case FaultKind::kShortRecord:
            RefuseUnknownKeys(entry, at, {"kind", "atRead", "bytes"});
            readAtRead();
            if (entry.contains("bytes")) {
                fault.bytes = static_cast<std::uint32_t>(Integer(entry, "bytes", at, 0, 11));
            }
            break;
        case FaultKind::kDoubleRecord:
        case FaultKind::kZeroLengthRead:
            RefuseUnknownKeys(entry, at, {"kind", "atRead"});
            readAtRead();
            break;
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
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
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
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "unknown";
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
