#pragma once

#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Turns captured advertisements, one per line, into one line of output each: the parsed
// advertisement-data dictionary as a JSON object, or null.
namespace addump {

// A line is manufacturer data as hex, company bytes first as transmitted, or "FEAA:" followed
// by Eddystone service data as hex; surrounding white space is ignored. Gives "null" for an
// empty line, one that is not hex, or one that is not an advertisement the SDK understands.
std::string dumpLine(std::string_view line, std::span<const std::string> proximityUUIDStrings);

// Every line of in to a line of out; never stops on a bad line.
void dump(std::istream& in, std::ostream& out, std::span<const std::string> proximityUUIDStrings);

// The program's arguments after its name: "--uuid PROXIMITY-UUID", repeatable. Gives the
// UUIDs in the order given, or nothing with *error set to one line saying what is wrong.
std::optional<std::vector<std::string>> parseArgs(std::span<const std::string> args, std::string* error);

}  // namespace addump
