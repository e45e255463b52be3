// Wildcard matching for file patterns (extraction masks, exclude lists, searches).
#pragma once

#include <string>
#include <vector>

// True when text matches pattern as a whole, compared case-insensitively:
//   ?        any one character
//   *        any run of characters, including none
//   <...>    one character of a set of characters and ranges (a-z); "<!...>" or "<^...>" negates
//   other    the character itself (square brackets included)
// A set without its closing ">" makes the match fail. Runs in O(len(pattern) * len(text)) time
// and O(len(pattern)) memory whatever the pattern.
bool WildcardMatch(const std::string& pattern, const std::string& text);

// True when some pattern of list matches name. A pattern containing "/" is matched against the
// whole path, any other against the file name part alone.
bool MatchesPatternList(const std::vector<std::string>& list, const std::string& path);
