// NAME.JOB: the ticked selection of a job, as a UTF-8 text file a person can read and edit.
//
//   ARCAVO-JOB 1
//   C<TAB>D<TAB>/home/ann/Documents
//   M<TAB>D<TAB>/home/ann/Projects
//   C<TAB>F<TAB>/home/ann/Projects/plan.txt
//
// One line per item: state C (checked) or M (mixed: some of its content is checked), kind D
// (folder) or F (file), and the absolute path. "%", TAB, CR, LF and bytes that are not part of a
// valid UTF-8 sequence are written as %XX, so any Linux file name survives. Parents come before
// their children; anything not listed is unchecked. The ticked paths are the topmost C lines (a C
// line below another C line adds nothing). Paths that no longer exist are kept as they are.
//
// Paths are byte strings (Linux file names need not be UTF-8).
#pragma once

#include <string>
#include <vector>

struct JobEntry {
  bool checked = true;  // C; false: M
  bool folder = false;  // D; false: F
  std::string path;     // absolute, raw bytes
  bool operator==(const JobEntry&) const = default;
};

// The first line of every job file.
inline constexpr const char* kJobMagic = "ARCAVO-JOB 1";

// %XX escaping of a path for one line of the file, and its inverse. A "%" that is not followed
// by two hexadecimal digits reads as itself (a hand-written "100%" keeps its sign).
std::string JobEscape(const std::string& path);
std::string JobUnescape(const std::string& text);

std::string FormatJob(const std::vector<JobEntry>& entries);
// Parses the text of a job file. Returns false, with a reason in *error, for a text that does
// not start with the job line ("not a job") or holds a line that is not an entry.
bool ParseJob(const std::string& text, std::vector<JobEntry>& entries, std::string* error);

// Reads a job file; false (with *error) when it cannot be read or is not a job.
bool ReadJobFile(const std::string& path, std::vector<JobEntry>& entries, std::string* error);
// Writes a job file atomically; throws std::system_error, leaving an older file intact.
void WriteJobFile(const std::string& path, const std::vector<JobEntry>& entries);

// The topmost checked paths, in file order.
std::vector<std::string> JobTickedPaths(const std::vector<JobEntry>& entries);

// True when ancestor is a proper parent folder of path ("/a" of "/a/b", "/" of "/a").
bool IsPathBelow(const std::string& path, const std::string& ancestor);
