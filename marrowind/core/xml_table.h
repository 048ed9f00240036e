// The batch document: the result rows of a batch statement as the XmlTable text
// that the cluster center reads, and the copy of a batch whose post failed.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/db.h"

namespace marrowind {

// A value as the document writes it: integers in decimal; money and decimals in
// their shortest form, at most four places; floats in general form, 15 digits;
// bits "True"/"False"; dates "yyyy-MM-dd", followed by " H:mm:ss" (hour without a
// leading zero) unless the time is midnight; binary values in upper-case hex; NULL
// as the empty text. The separator is ".".
std::string XmlValueText(const platform::db::Value& value, platform::db::FieldType type);

// A value with every "<", ">" and "&" removed (not escaped).
std::string XmlCleaned(std::string_view value);

// "<XmlTable>", for each row of the open record set from its first one "<rows>"
// holding one element per column, named as the result names the column, then
// "</XmlTable>". No declaration, attributes or blanks between elements. UTF-8.
std::string BuildXmlTable(platform::db::Query& query);

// The failed batch's copy: `document` written whole to LS2.xml in the current working
// directory, UTF-8 without a BOM, replacing an earlier copy. It goes to a temporary
// file first and is renamed over LS2.xml, so the file is never half written. False
// when it could not be written (the earlier copy then stays).
bool SaveFailedXml(std::string_view document);

inline constexpr std::string_view kFailedXmlName = "LS2.xml";

}  // namespace marrowind
