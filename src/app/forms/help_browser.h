#pragma once
// The user guide: numbered help topics open pages of the HTML guide shipped beside the program,
// in one help window that stays open beside the program's other windows.

#include <QString>
#include <QUrl>
#include <QWidget>

class QTextBrowser;
class QPushButton;

namespace qv::app {

// Topic numbers the program's commands use.
inline constexpr int kHelpWizardIntro = 1022;
inline constexpr int kHelpModemPage = 3501;
inline constexpr int kHelpSendingPages = 3502;
inline constexpr int kHelpReceivingPages = 3503;
inline constexpr int kHelpTechnical = 10000;
inline constexpr int kHelpContents = 1009;
inline constexpr int kHelpFaq = 911;
inline constexpr int kHelpSupport = 1025;

// The guide's folder: "help" beside the program (a build tree), else <prefix>/share/quorvane/help
// of the prefix the program is installed in, else the source tree's docs/help.
QString HelpDirectory();
// Overrides the folder (tests, a packaged layout).
void SetHelpDirectory(const QString& dir);
// The page (and anchor) of a topic; an unknown topic opens the contents page.
QUrl HelpTopicUrl(int topic);

class THelpBrowser : public QWidget {
  Q_OBJECT
 public:
  explicit THelpBrowser(QWidget* parent = nullptr);
  void ShowTopic(int topic);
  QUrl CurrentUrl() const;
  QString CurrentTitle() const;

 private:
  QTextBrowser* browser_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* contents_ = nullptr;
};

// Opens (or raises) the help window on a topic. The window belongs to the application.
void ShowHelpTopic(int topic);
// The help window, if one was opened.
THelpBrowser* HelpWindow();

}  // namespace qv::app
