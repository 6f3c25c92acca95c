#include "app/forms/help_browser.h"

#include "app/store/data_directory.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <map>

namespace qv::app {

namespace {

QString gHelpDir;
QPointer<THelpBrowser> gWindow;

struct TopicPage {
  const char* page;
  const char* anchor;
};

// Every topic number a command of the program opens.
const std::map<int, TopicPage>& Topics() {
  static const std::map<int, TopicPage> topics = {
      {kHelpContents, {"index.html", ""}},
      {kHelpFaq, {"troubleshooting.html", "faq"}},
      {kHelpSupport, {"troubleshooting.html", "support"}},
      {kHelpTechnical, {"troubleshooting.html", ""}},
      {kHelpWizardIntro, {"preferences.html", ""}},
      {kHelpModemPage, {"preferences.html", "modem"}},
      {kHelpSendingPages, {"preferences.html", "sending"}},
      {kHelpReceivingPages, {"preferences.html", "receiving"}},
      {1015, {"getting-started.html", "editor"}},
      {1016, {"getting-started.html", "sending"}},
      {1017, {"getting-started.html", "covers"}},
      {1018, {"getting-started.html", "covers"}},
      {1019, {"getting-started.html", "phonebook"}},
      {1020, {"getting-started.html", "phonebook"}},
      {1021, {"getting-started.html", "viewing"}},
      {1030, {"contacts.html", ""}},  // the contact import preview
      {21071, {"getting-started.html", "cleanup"}},
  };
  return topics;
}

}  // namespace

QString HelpDirectory() {
  if (!gHelpDir.isEmpty()) return gHelpDir;
  const QString programDir = QCoreApplication::applicationDirPath();
  const QString beside = programDir + QStringLiteral("/help");
  if (QFileInfo(beside + QStringLiteral("/index.html")).isFile()) return beside;
  // Installed: the guide is in the data folder of the prefix the program lives in, wherever
  // that prefix is.
  const QString share = InstalledShareDirectory(programDir);
  if (!share.isEmpty() && QFileInfo(share + QStringLiteral("/help/index.html")).isFile())
    return share + QStringLiteral("/help");
#ifdef QV_HELP_SOURCE_DIR
  return QStringLiteral(QV_HELP_SOURCE_DIR);
#else
  return beside;
#endif
}

void SetHelpDirectory(const QString& dir) { gHelpDir = dir; }

QUrl HelpTopicUrl(int topic) {
  const auto& topics = Topics();
  auto it = topics.find(topic);
  const TopicPage page = it != topics.end() ? it->second : TopicPage{"index.html", ""};
  QUrl url = QUrl::fromLocalFile(QDir(HelpDirectory()).filePath(QString::fromLatin1(page.page)));
  if (*page.anchor) url.setFragment(QString::fromLatin1(page.anchor));
  return url;
}

THelpBrowser::THelpBrowser(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("HelpBrowser"));
  setWindowTitle(QStringLiteral("Quorvane Help"));
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("HelpText"));
  browser_->setAccessibleName(QStringLiteral("Help text"));
  browser_->setOpenExternalLinks(true);
  back_ = new QPushButton(QStringLiteral("&Back"), this);
  back_->setObjectName(QStringLiteral("BackButton"));
  back_->setAccessibleName(QStringLiteral("Back"));
  contents_ = new QPushButton(QStringLiteral("&Contents"), this);
  contents_->setObjectName(QStringLiteral("ContentsButton"));
  contents_->setAccessibleName(QStringLiteral("Contents"));
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setObjectName(QStringLiteral("CloseButton"));
  close->setAccessibleName(QStringLiteral("Close"));
  connect(back_, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(browser_, &QTextBrowser::backwardAvailable, back_, &QPushButton::setEnabled);
  connect(contents_, &QPushButton::clicked, this, [this] { ShowTopic(kHelpContents); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
    const QString title = browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("Quorvane Help") : QStringLiteral("Quorvane Help - ") + title);
  });
  back_->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(back_);
  buttons->addWidget(contents_);
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(browser_);
  resize(720, 560);
}

void THelpBrowser::ShowTopic(int topic) {
  const QUrl url = HelpTopicUrl(topic);
  if (!QFileInfo(url.toLocalFile()).isFile()) {
    browser_->setHtml(QStringLiteral("<h2>Help is not installed</h2><p>The user guide was expected in "
                                     "<tt>%1</tt>.</p>")
                          .arg(HelpDirectory().toHtmlEscaped()));
    return;
  }
  browser_->setSource(url);
}

QUrl THelpBrowser::CurrentUrl() const { return browser_->source(); }
QString THelpBrowser::CurrentTitle() const { return browser_->documentTitle(); }

void ShowHelpTopic(int topic) {
  if (!gWindow) {
    gWindow = new THelpBrowser;
    gWindow->setAttribute(Qt::WA_DeleteOnClose);
  }
  gWindow->ShowTopic(topic);
  gWindow->show();
  gWindow->raise();
  gWindow->activateWindow();
}

THelpBrowser* HelpWindow() { return gWindow.data(); }

}  // namespace qv::app
