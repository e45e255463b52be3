// Archives whose central directory was found damaged: what the window says about them, and the
// question asked before a command rewrites one.
//
// Reading such an archive rebuilds its entry list by scanning it; a rewrite then keeps only the
// entries the scan found. The engine refuses that rewrite unless told otherwise (RewriteDamaged),
// so every command that changes an archive asks the user first, and without a user (an
// unattended run) leaves the archive as it is.
#pragma once

#include <QString>

class TArcUnZip;
class TArcZip;

namespace damagedmsg {
inline constexpr const char* kCaption = "Arcavo";
// The archive view's note (%1 the engine's description of the damage).
inline constexpr const char* kViewNote =
    "Damaged central directory (%1): the entries shown are those a scan of the archive found";
// Added to the test's closing box.
inline constexpr const char* kTestNote =
    "\rThe central directory is damaged (%1): the archive cannot pass the test";
// The question before a rewrite (%1 the archive, %2 the damage); No is the default.
inline constexpr const char* kRewriteQuestion =
    "The central directory of %1 is damaged (%2).\rChanging the archive rewrites it with only "
    "the entries a scan of the archive found; any others are lost.\rChange it all the same?";
// Why the archive was left as it was (%1 the archive, %2 the damage).
inline constexpr const char* kNotChanged =
    "%1 was not changed: its central directory is damaged (%2)";
}  // namespace damagedmsg

// The engine's description of what is wrong with the directory it read last ("" when whole).
QString DirectoryDamageText(const TArcUnZip& zip);

// Whether a command may rewrite the archive the engine has read. "" when it may: its directory
// is whole, or userThere and the user answered Yes to the question (RewriteDamaged is then set
// on the engine, for the operation's session). Otherwise the reason it is left as it is
// (kNotChanged): the user answered No, or nobody was asked (userThere false, or the boxes are
// answered without a user) and No was taken.
QString DamagedRewriteRefusal(TArcZip& zip, bool userThere);

// For the window's commands: true when the archive may be rewritten (as DamagedRewriteRefusal).
// Refused without a user, the reason goes where unattended boxes go (standard error and the
// report) as a failure of the run.
bool ConfirmDamagedRewrite(TArcZip& zip);
