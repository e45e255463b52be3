// The window's disc-writing commands: "&Burner Settings", "&CD/CDRW properties", "EraseCDRW" ▸
// "Quick"/"Full", "Copy2&Burner" and the tree's "Copy2Burner", bound to the burn commands of the
// backup side; and the answers of the window's adapters that reach the writer.
#include <QApplication>
#include <QFileInfo>

#include "app/mb.h"
#include "backup/backupcore.h"
#include "backup/burncommands.h"
#include "backup/moveblocks.h"
#include "ui/bindings.h"
#include "ui/dlgsourceselect.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/windowhosts.h"

namespace {

// The selection "Copy2Burner" burns: the tree's when it has the focus, else the list's.
QStringList BurnSelection(const TMainform& form) {
  TExplorerTree* tree = form.explorerTree();
  TExplorerList* list = form.explorerList();
  if (tree && tree->hasFocus()) return tree->HighlightedPaths();
  return list ? list->HighlightedPaths() : QStringList();
}

// "Copy2Burner": the highlighted items to the burner; says why when there is nothing to copy or
// no burner to copy to, rather than doing nothing.
void BurnHighlighted(const TMainform& form, TBurnCommands& burn) {
  const QStringList selection = BurnSelection(form);
  if (selection.isEmpty()) {
    MbInfo(QStringLiteral("Highlight the files or folders to copy in the Browser tab first"));
    return;
  }
  if (burn.Settings().drive.isEmpty()) {
    MbMessage(QStringLiteral("No burner is set: choose one in Options > Burner Settings"),
              QStringLiteral("Arcavo"), false, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  burn.SFTburn1Click(selection);
}

}  // namespace

TBindings TMainform::BurnBindings() {
  TBurnCommands& burn = backup_->burn();
  return {
      OnItem("BurnerSettings1", "CDBurner1Click",
             [this, &burn](bool) { CDBurner1Click(burn, this); }),
      OnItem("MoveBlocks1", "MoveBlocks1Click",
             [this](bool) { backup_->moveBlocks().MoveBlocks1Click(); }),
      OnItem("CDproperties1", "CDproperties1Click", [&burn](bool) { burn.CDproperties1Click(); }),
      OnItem("Quick1", "EraseCDRW1Click (quick)", [&burn](bool) { burn.EraseCDRW1Click(true); }),
      OnItem("Full1", "EraseCDRW1Click (full)", [&burn](bool) { burn.EraseCDRW1Click(false); }),
      OnItem("Burn1", "SFTburn1Click", [this, &burn](bool) { BurnHighlighted(*this, burn); }),
      OnItem("SFTburn1", "SFTburn1Click", [this, &burn](bool) { BurnHighlighted(*this, burn); }),
  };
}

// --- The adapters' disc answers ---

void TWindowMain::BurnFiles(const QStringList& files) {
  TBurnCommands& burn = form_.backup()->burn();
  const bool burnt = burn.BurnFiles(files);
  burn.ReleaseTransport();
  if (burnt) return;
  // The job's files are deleted from the temporary folder afterwards: say it is on no disc.
  const QString why = !burn.Configured()             ? QStringLiteral("no disc writer is set")
                      : burn.LastBurnError.isEmpty() ? QStringLiteral("no disc ready")
                                                     : burn.LastBurnError;
  MbMessage(QString::fromUtf8(burnmsg::kJobNotSaved) + why, QStringLiteral("Arcavo"), false,
            MB_OK | MB_ICONEXCLAMATION);
}

bool TWindowMain::IsBurnerRoot(const QString& folder) const {
  return form_.backup() && form_.backup()->burn().IsBurnerRoot(folder);
}

void TWindowBackupSeams::CDBurner1Click() {
  ::CDBurner1Click(form_.backup()->burn(), &form_);
}

QVector<BurnerDeviceInfo> TWindowStartup::ScanBurners() {
  TBurnerSettings found;
  if (!form_.backup() || !form_.backup()->burn().ScanForWriter(found))
    throw std::runtime_error("no drive writes CD-R");
  BurnerDeviceInfo info;
  info.name = found.burner;
  info.drive = found.drive;
  info.writeSpeed = found.speed;
  info.finalize = found.finalise;
  info.canWrite = true;
  return {info};
}

void TWindowStartup::StopBurner() {
  if (form_.backup()) form_.backup()->burn().StopBurner();
}
