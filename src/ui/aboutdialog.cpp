#include "ui/aboutdialog.h"

#include <zlib.h>

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

#include "app/lifecycle.h"
#include "ui/widgetkit.h"

QString LicenceText() {
  QFile file(QStringLiteral(":/package/copyright"));
  if (!file.open(QIODevice::ReadOnly))
    return QStringLiteral("Licence: see the package's copyright file");
  // The first "License:" field: its name on the field's line, its text on the indented lines
  // below (a lone "." is an empty line).
  QString name;
  QStringList text;
  bool in = false;
  for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
    if (!in) {
      if (line.startsWith(QLatin1String("License:"))) {
        name = line.mid(8).trimmed();
        in = true;
      }
      continue;
    }
    if (!line.startsWith(QLatin1Char(' ')) && !line.startsWith(QLatin1Char('\t'))) break;
    const QString t = line.trimmed();
    text << (t == QLatin1String(".") ? QString() : t);
  }
  QString out = QStringLiteral("Licence: ") + (name == QLatin1String("other") ? QString() : name);
  const QString body =
      text.join(QLatin1Char(' ')).replace(QStringLiteral("  "), QStringLiteral("\n\n"));
  if (!body.isEmpty())
    out += (out.endsWith(QLatin1Char(' ')) ? QString() : QStringLiteral(" ")) + body;
  return out.trimmed();
}

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
  };
  auto* text = new QLabel(lines.join(QLatin1Char('\n')), box.get());
  text->setObjectName(QStringLiteral("AboutText"));
  text->setAlignment(Qt::AlignHCenter);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  v->addWidget(text);
  auto* licence = new QLabel(LicenceText(), box.get());
  licence->setObjectName(QStringLiteral("AboutLicence"));
  licence->setWordWrap(true);
  licence->setAlignment(Qt::AlignHCenter);
  licence->setTextInteractionFlags(Qt::TextSelectableByMouse);
  licence->setMinimumWidth(licence->fontMetrics().averageCharWidth() * 50);
  v->addWidget(licence);

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
