#include "ui/aboutdialog.h"

#include <zlib.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

#include "app/lifecycle.h"
#include "ui/widgetkit.h"

std::unique_ptr<QDialog> CreateAboutDialog(QWidget* parent) {
  auto box = std::make_unique<QDialog>(parent);
  box->setObjectName(QStringLiteral("AboutBox"));
  box->setWindowTitle(QStringLiteral("About Arcavo"));
  auto* v = new QVBoxLayout(box.get());
  auto* icon = new QLabel(box.get());
  icon->setPixmap(ui::ProgramIcon().pixmap(48, 48));
  v->addWidget(icon, 0, Qt::AlignHCenter);

  auto* name = new QLabel(QStringLiteral("Arcavo"), box.get());
  name->setObjectName(QStringLiteral("AboutName"));
  QFont big = name->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.5);
  name->setFont(big);
  v->addWidget(name, 0, Qt::AlignHCenter);

  const QString digits = TAppLifecycle::VersionDigitsOf(QStringLiteral(ARCAVO_VERSION));
  const QStringList lines = {
      QStringLiteral("Arcavo V") + digits + QStringLiteral(" (") + QStringLiteral(ARCAVO_VERSION) +
          QLatin1Char(')'),
      QStringLiteral("Backup to zip archives, discs and removable disks"),
      QString(),
      QStringLiteral("Qt ") + QString::fromLatin1(qVersion()) + QStringLiteral(", zlib ") +
          QString::fromLatin1(zlibVersion()),
      QString::fromUtf8(kLicenceLine),
  };
  auto* text = new QLabel(lines.join(QLatin1Char('\n')), box.get());
  text->setObjectName(QStringLiteral("AboutText"));
  text->setAlignment(Qt::AlignHCenter);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  v->addWidget(text);

  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, box.get());
  QObject::connect(ok, &QDialogButtonBox::accepted, box.get(), &QDialog::accept);
  v->addWidget(ok);
  v->setSizeConstraint(QLayout::SetFixedSize);
  return box;
}

void ShowAboutDialog(QWidget* parent) {
  // The box may go with its parent while it is open (the window closed from the tray): the
  // guard is null then.
  QPointer<QDialog> box = CreateAboutDialog(parent).release();
  box->exec();
  delete box.data();
}
