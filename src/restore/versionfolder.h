// Version folders: "#" + eight characters + "#/" appended to an entry's stored folder when a
// backup keeps the previous copies of its files. NoSuffix cuts a stored path just before its
// version folder, so the copies are shown and searched under the folder they came from.
#pragma once

#include <QString>

namespace restore {

// "Data/#1F2E5ED3#/sub/" gives "Data/"; a path that starts with a version folder gives "";
// any other path (also one with a marker of another length, "Data/#123#/") comes back unchanged.
QString NoSuffix(const QString& path);

}  // namespace restore
