#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Common/Headers/PrinterDescription.h"

// Loaders of the two description files. Each reads its file completely on every call and
// keeps nothing between calls. They return false for any failure and never throw; on false
// the output maps and lists may hold partial content and must be treated as invalid, and
// errorText (when not null) receives the what() text of the exception or the message of the
// XML error that ended the load. errorText is left alone on success.

// WendIDs.xml: manufacturer names to vendor ids and model names to product ids. Empties both
// maps first.
bool LoadIdMappings(const std::wstring& path, std::map<std::string, std::int32_t>& vendors,
                    std::map<std::string, std::int32_t>& products,
                    std::string* errorText = nullptr);

// Wend.xml: one record per printer element, in document order. Empties records first.
bool LoadPrinterDescriptions(const std::wstring& path, std::vector<PrinterDescription>& records,
                             std::string* errorText = nullptr);

// Copies the first record of Wend.xml with both ids into record. record is left as it was
// when the file does not load or holds no such printer.
bool FindPrinterDescription(const std::wstring& path, std::uint32_t vendorId,
                            std::uint32_t productId, PrinterDescription& record);

// Names to ids through WendIDs.xml, then ids to the first matching record of Wend.xml (which
// is not read when either name is unknown). record is left as it was on false.
bool LookupPrinterDescription(const std::wstring& descriptionPath, const std::wstring& idsPath,
                              const std::string& vendorName, const std::string& productName,
                              PrinterDescription& record);
