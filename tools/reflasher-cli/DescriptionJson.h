#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "Common/Headers/PrinterDescription.h"

// The record as JSON, every field under its own name. Integer map keys become decimal
// strings; text is kept as read, so dump the result with error_handler_t::replace (see
// DumpJson) to survive bytes that are not UTF-8.
nlohmann::json DescriptionToJson(const PrinterDescription& record);

// One JSON document, indented, with invalid UTF-8 replaced instead of throwing.
std::string DumpJson(const nlohmann::json& document);
