// "ZIPfix": a damaged archive chosen by the user is salvaged into "<name>_fixed.zip" in a folder
// the user chooses, through the engine's repair; the damaged file is never changed.
#pragma once

#include <QObject>
#include <QString>

class TArcZip;
class IFileDialogHost;

namespace restore {

class IArchiveWindow;
class IRestoreHost;
class TArchiveViewController;

namespace repairmsg {
inline constexpr const char* kOpenFilter =
    "Zip (SFX) or Spanned Files|*.z*;*.EXE;*.0*;*.1*;*.2*;*.3*;*.4*;*.5*;*.6*;*.7*;*.8*;*.9*";
inline constexpr const char* kFolderTitle = "Select Destination";
inline constexpr const char* kFixedSuffix = "_fixed.zip";
inline constexpr const char* kCaption = "Arcavo";
}  // namespace repairmsg

class TRepairController : public QObject {
  Q_OBJECT
 public:
  TRepairController(TArcZip& zip, TArchiveViewController& view, IArchiveWindow& window,
                    IFileDialogHost& dialogs, IRestoreHost& host, QObject* parent = nullptr);
  ~TRepairController() override;

  // "ZIPfix": the damaged archive from the open dialog, the destination from the folder dialog
  // (either cancelled: nothing happens), then the repair; the status bar is cleared afterwards
  // whatever happened. When entries were written, tells how many of those read and the new name.
  void fixzipbtnClick();

  // The new archive's name for a damaged archive in folder: "week.zip" gives "week_fixed.zip".
  static QString FixedName(const QString& folder, const QString& damaged);

 private:
  TArcZip& zip_;
  TArchiveViewController& view_;
  IArchiveWindow& window_;
  IFileDialogHost& dialogs_;
  IRestoreHost& host_;
};

}  // namespace restore
