#include "app/contacts/contact_import_dialog.h"

#include "app/contacts/phone_book_editor.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <map>

namespace qv::app {

namespace {

QTableWidget* Grid(const char* name, const QString& accessible, const QStringList& headers, QWidget* parent) {
  auto* grid = new QTableWidget(0, headers.size(), parent);
  grid->setObjectName(QString::fromLatin1(name));
  grid->setAccessibleName(accessible);
  grid->setHorizontalHeaderLabels(headers);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->verticalHeader()->setVisible(false);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->setWordWrap(false);
  return grid;
}

void AddRow(QTableWidget* grid, const QStringList& cells) {
  const int row = grid->rowCount();
  grid->insertRow(row);
  for (int c = 0; c < cells.size(); ++c) grid->setItem(row, c, new QTableWidgetItem(cells[c]));
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

QString ImportSummary(const ImportPlan& plan) {
  const auto n = static_cast<int>(plan.add.size());
  QString text = n == 1 ? QStringLiteral("1 contact to add") : QStringLiteral("%1 contacts to add").arg(n);
  if (plan.skipped.empty()) return text + QLatin1Char('.');
  // Reasons in the order they first occur, each with its count.
  std::vector<std::string> order;
  std::map<std::string, int> counts;
  for (const SkippedContact& s : plan.skipped) {
    if (counts[s.reason]++ == 0) order.push_back(s.reason);
  }
  QStringList parts;
  for (const std::string& reason : order) parts << QStringLiteral("%1 %2").arg(counts[reason]).arg(Q(reason));
  return text + QStringLiteral("; %1 skipped: ").arg(plan.skipped.size()) + parts.join(QStringLiteral(", ")) +
         QLatin1Char('.');
}

TImportPreview::TImportPreview(const QString& fileName, const ContactList& parsed, const ImportPlan& plan,
                               QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ImportPreview"));
  setWindowTitle(QStringLiteral("Import Contacts"));
  setAccessibleName(windowTitle());
  setSizeGripEnabled(true);

  auto* source = new QLabel(QStringLiteral("%1 (%2)").arg(QFileInfo(fileName).fileName(),
                                                          parsed.format.empty() ? QStringLiteral("unknown format")
                                                                                : Q(parsed.format)),
                            this);
  source->setObjectName(QStringLiteral("SourceLabel"));
  Summary_ = new QLabel(ImportSummary(plan), this);
  Summary_->setObjectName(QStringLiteral("SummaryLabel"));
  Summary_->setWordWrap(true);
  Summary_->setAccessibleName(Summary_->text());

  PreviewGrid_ = Grid("PreviewGrid", QStringLiteral("Contacts to add"),
                      {QStringLiteral("Name"), QStringLiteral("Fax #"), QStringLiteral("Note")}, this);
  for (const Contact& c : plan.add) AddRow(PreviewGrid_, {Q(c.name), Q(c.number), Q(c.note)});
  SkippedGrid_ = Grid("SkippedGrid", QStringLiteral("Contacts skipped"),
                      {QStringLiteral("Name"), QStringLiteral("Why it is skipped")}, this);
  for (const SkippedContact& s : plan.skipped) AddRow(SkippedGrid_, {Q(s.name), Q(s.reason)});
  for (QTableWidget* grid : {PreviewGrid_, SkippedGrid_}) grid->resizeColumnsToContents();

  ImportButton_ = new QPushButton(QStringLiteral("&Import"), this);
  ImportButton_->setObjectName(QStringLiteral("ImportButton"));
  ImportButton_->setAccessibleName(QStringLiteral("Import"));
  ImportButton_->setEnabled(!plan.add.empty());
  ImportButton_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cance&l"), this);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  cancel->setAccessibleName(QStringLiteral("Cancel"));
  auto* help = new QPushButton(QStringLiteral("&Help"), this);
  help->setObjectName(QStringLiteral("HelpButton"));
  help->setAccessibleName(QStringLiteral("Help"));
  help->setAutoDefault(false);
  connect(help, &QPushButton::clicked, this, [this] { emit HelpRequested(kContactImportHelpTopic); });
  connect(ImportButton_, &QPushButton::clicked, this, [this] { done(kModalAccept); });
  connect(cancel, &QPushButton::clicked, this, [this] { done(kModalCancel); });

  auto* addLabel = new QLabel(QStringLiteral("&To add:"), this);
  addLabel->setBuddy(PreviewGrid_);
  auto* skipLabel = new QLabel(QStringLiteral("&Skipped:"), this);
  skipLabel->setBuddy(SkippedGrid_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ImportButton_);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(source);
  layout->addWidget(Summary_);
  layout->addWidget(addLabel);
  layout->addWidget(PreviewGrid_, 3);
  layout->addWidget(skipLabel);
  layout->addWidget(SkippedGrid_, 1);
  layout->addLayout(buttons);
  resize(620, 460);
}

QString TImportPreview::Summary() const { return Summary_->text(); }

}  // namespace qv::app
