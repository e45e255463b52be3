// Version folders: "#" + eight characters + "#/" appended to an entry's stored folder when a
// backup keeps the previous copies of its files (the backup writes eight upper-case hexadecimal
// digits). One reading of them for the whole program: the backup's versioning, the archive view,
// extraction and search.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

// A stored path without its first version folder and what follows it: "a/#1F2E5ED3#/b/" gives
// "a/", a path starting with a version folder gives "". A version folder is a whole component
// of eight characters between two "#"; anything else ("a/#123#/", "x12345678#/") is returned
// unchanged.
std::string NoSuffix(const std::string& path);
QString NoSuffix(const QString& path);

// The values of the version folders of eight hexadecimal digits named in a stored path
// ("a/#1F2E5ED3#/b/" holds one), in order.
std::vector<uint32_t> VersionFolderValues(const std::string& storedPath);

// Whether version folder value a was made after b. The values count ten-second steps in 32 bits
// and wrap around about every 27 years, so they are compared as serial numbers: a is newer when
// it lies less than half the range ahead of b.
inline bool VersionNewer(uint32_t a, uint32_t b) {
  return a != b && static_cast<uint32_t>(a - b) < 0x80000000u;
}
