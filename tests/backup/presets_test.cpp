#include "backup/presets.h"

#include <gtest/gtest.h>

#include <QDir>

#include "testutil.h"

namespace {

TEST(Presets, FindsTheProfilesAndLeavesOutOnlyBelowThem) {
  testutil::TempDir dir;
  const QString home = QString::fromStdString(dir / "mailroom");
  const auto mk = [&](const char* rel) { ASSERT_TRUE(QDir().mkpath(home + "/" + rel)); };

  // Neither installed: the usual places, nothing found.
  TMozillaFolders f = MozillaFolders(home);
  EXPECT_FALSE(f.found);
  EXPECT_EQ(f.firefox, home + "/.mozilla/firefox");

  // Snap Firefox, flatpak Thunderbird.
  mk("snap/firefox/common/.mozilla/firefox/p.default");
  mk(".var/app/org.mozilla.Thunderbird/.thunderbird/x.default");
  f = MozillaFolders(home);
  EXPECT_TRUE(f.found);
  EXPECT_EQ(f.firefox, home + "/snap/firefox/common/.mozilla/firefox");
  EXPECT_EQ(f.thunderbird, home + "/.var/app/org.mozilla.Thunderbird/.thunderbird");
  EXPECT_EQ(PresetFolders(1, f), QStringList({f.firefox, f.thunderbird}));
  EXPECT_EQ(PresetFolders(3, f), QStringList({f.thunderbird}));

  // The usual place wins; only Firefox there: Thunderbird still named at its usual place.
  mk(".mozilla/firefox");
  f = MozillaFolders(home);
  EXPECT_EQ(f.firefox, home + "/.mozilla/firefox");

  struct Case {
    int kind;
    const char* file;  // below the home folder
    bool out;
  };
  const QString ff = home + "/.mozilla/firefox", tb = f.thunderbird;
  const QStringList folders = {ff, tb};
  const Case cases[] = {
      {1, "/.mozilla/firefox/p/prefs.js", false},
      {1, "/.mozilla/firefox/p/cache2/entries/a", true},
      {2, "/.var/app/org.mozilla.Thunderbird/.thunderbird/x/Mail/Local Folders/Inbox", true},
      {2, "/.var/app/org.mozilla.Thunderbird/.thunderbird/x/ImapMail/x/INBOX", false},
      {2, "/.var/app/org.mozilla.Thunderbird/.thunderbird/x/News/n", true},
      {3, "/.var/app/org.mozilla.Thunderbird/.thunderbird/x/Mail/Local Folders/Inbox", true},
      {3, "/.var/app/org.mozilla.Thunderbird/.thunderbird/x/ImapMail/x/INBOX", false},
      {3, "/.var/app/org.mozilla.Thunderbird/.thunderbird/x/cache2/a", false},
      {4, "/.mozilla/firefox/p/cache2/a", true},
      {4, "/.mozilla/firefox/p/News/a", false},
      {0, "/.mozilla/firefox/p/cache2/a", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(PresetLeavesOut(c.kind, PathBelow(home + c.file, folders)), c.out);
  }
  // A file outside the profile folders is judged by its whole path.
  EXPECT_EQ(PathBelow("/elsewhere/Mail/a", folders), "/elsewhere/Mail/a");
}

}  // namespace
