// Listings of an archive, one line per entry ("name|size|compressed|crc|date|offset"), made by
// zipinfo and by the engine, for entry-by-entry comparison.
#pragma once

#include <string>
#include <vector>

class TArcUnZip;

std::vector<std::string> ZipInfoListing(const std::string& archive);
std::vector<std::string> EngineListing(TArcUnZip& zip);
