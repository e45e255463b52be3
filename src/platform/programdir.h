// Where the program keeps its files.
//
// ProgramDir is the per-user folder $XDG_CONFIG_HOME/arcavo/ (default ~/.config/arcavo/) with a
// trailing "/", created on first use. It holds "default.ini", "fmhistory.ini", jobs in
// "ProgramDIR" mode, reports and staged parts. In portable mode, when the executable's folder is
// writable and already holds "default.ini", that folder is ProgramDir.
//
// Read-only resources (the self-extractor stub "ArcSFX32.bin", help) are found beside the
// executable or in <prefix>/share/arcavo/.
#pragma once

#include <string>
#include <vector>

// The self-extractor stub copied at the head of every self-extracting archive.
inline constexpr const char* kStubName = "ArcSFX32.bin";
// The help's start page; its folder "help" holds the rest of the help.
inline constexpr const char* kHelpFile = "help/arcavo-help.html";

// ProgramDir with a trailing "/". The value is computed once per process (see
// ResetProgramDirForTest); the folder is created (mode 0700) when missing.
std::string ProgramDir();

// Folder of the running executable, with a trailing "/".
std::string ExecutableDir();

// Every path a read-only resource is looked for at, in the order they are tried: beside the
// executable, <prefix>/share/arcavo/ relative to it, then the system share folders.
std::vector<std::string> ResourceCandidates(const std::string& name);

// Full path of a read-only resource (the first candidate that is a file), or "" when it is
// nowhere to be found.
std::string ResourcePath(const std::string& name);

// "stub not found: <paths tried>": stub is the file asked for, or "" when the stub was looked up
// among the resource folders.
std::string MissingStubMessage(const std::string& stub);

// Forgets the computed ProgramDir so the next call looks at the environment again.
void ResetProgramDirForTest();
