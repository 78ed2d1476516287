#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

// Turns captured advertisements, one per line, into one line of output each: the parsed
// advertisement-data dictionary as a JSON object, or null.
namespace addump {

// A line is manufacturer data as hex, company bytes first as transmitted, or "FEAA:" followed
// by Eddystone service data as hex; surrounding white space is ignored. Gives "null" for an
// empty line, one that is not hex, or one that is not an advertisement the SDK understands.
std::string dumpLine(std::string_view line, std::span<const std::string> proximityUUIDStrings);

// Every line of in to a line of out; never stops on a bad line.
void dump(std::istream& in, std::ostream& out, std::span<const std::string> proximityUUIDStrings);

}  // namespace addump
