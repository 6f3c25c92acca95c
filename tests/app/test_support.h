#pragma once
// Helpers shared by the desktop program's tests: a Qt application, temporary data directories and
// a dialog service whose answers the test scripts.

#include "app/forms/dialog_service.h"

#include <QApplication>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>

#include <deque>
#include <functional>
#include <set>
#include <string>

namespace qv::app::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  // The program watches the fax printer's spool folder of its user: tests keep away from any
  // real one (a test of the printer names its own).
  if (qEnvironmentVariableIsEmpty("QUORVANE_SPOOL")) qputenv("QUORVANE_SPOOL", "/nonexistent/quorvane-test-spool");
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// A temporary directory used as data directory (path ends in "/").
class DataDir {
 public:
  DataDir() { dir_.setAutoRemove(true); }
  QString Path() const { return dir_.path() + QLatin1Char('/'); }
  std::string StdPath() const { return Path().toStdString(); }
  QString File(const QString& name) const { return Path() + name; }

 private:
  QTemporaryDir dir_;
};

// Records every box and question; answers questions and modal forms from queues.
class ScriptedDialogs : public DialogService {
 public:
  struct Shown {
    QString kind;  // "info", "question", "form"
    QString caption;
    QString text;
    bool defaultYes = false;
  };

  ScriptedDialogs() { previous_ = SetDialogs(this); }
  ~ScriptedDialogs() override { SetDialogs(previous_); }

  void Information(QWidget*, const QString& text, const QString& caption) override {
    shown.push_back({QStringLiteral("info"), caption, text, false});
  }
  bool Question(QWidget*, const QString& caption, const QString& text, bool defaultYes) override {
    shown.push_back({QStringLiteral("question"), caption, text, defaultYes});
    if (answers.empty()) return defaultYes;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  // Answers from `choices`; unscripted, the box's default (Yes).
  Choice YesNoCancel(QWidget*, const QString& caption, const QString& text) override {
    shown.push_back({QStringLiteral("choice"), caption, text, true});
    if (choices.empty()) return Choice::Yes;
    const Choice choice = choices.front();
    choices.pop_front();
    return choice;
  }
  void Error(QWidget*, const QString& text) override {
    shown.push_back({QStringLiteral("error"), QStringLiteral("Quorvane"), text, false});
  }
  // File dialogs answer from their queues (empty: the user cancelled).
  QString OpenFileName(QWidget*, const QString& caption, const QString&, const QString&) override {
    shown.push_back({QStringLiteral("open"), caption, QString(), false});
    return Next(openFiles);
  }
  QString SaveFileName(QWidget*, const QString& caption, const QString&, const QString&) override {
    shown.push_back({QStringLiteral("save"), caption, QString(), false});
    return Next(saveFiles);
  }
  int Exec(QDialog* dialog) override {
    shown.push_back({QStringLiteral("form"), dialog->windowTitle(), dialog->objectName(), false});
    if (forms.empty()) {
      return realForms.count(dialog->objectName()) ? dialog->exec() : int(QDialog::Rejected);
    }
    auto script = std::move(forms.front());
    forms.pop_front();
    return script(dialog);
  }
  void Beep() override { ++beeps; }

  // Texts of the information boxes shown so far.
  QStringList Infos() const {
    QStringList out;
    for (const Shown& s : shown)
      if (s.kind == QLatin1String("info")) out << s.text;
    return out;
  }
  int Count(const QString& kind) const {
    int n = 0;
    for (const Shown& s : shown) n += s.kind == kind;
    return n;
  }
  void Clear() {
    shown.clear();
    beeps = 0;
  }

  std::vector<Shown> shown;
  std::deque<QString> openFiles;
  std::deque<QString> saveFiles;
  std::deque<bool> answers;
  std::deque<Choice> choices;
  std::deque<std::function<int(QDialog*)>> forms;
  // Forms (by object name) that run for real when no script is queued.
  std::set<QString> realForms{QStringLiteral("RebuildInd")};
  int beeps = 0;

 private:
  static QString Next(std::deque<QString>& queue) {
    if (queue.empty()) return QString();
    QString name = std::move(queue.front());
    queue.pop_front();
    return name;
  }
  DialogService* previous_ = nullptr;
};

// Closes a form through its own Accept, as the user's button does: forms that store what they
// hold do it there and stay open (result Rejected) when the store fails. Returns the result.
inline int AcceptForm(QDialog* form) {
  form->done(QDialog::Accepted);
  return form->result();
}

// What a shown tool bar cannot fit and puts behind its overflow arrow: the names of the visible
// actions whose buttons it hid, and "overflow arrow" when the arrow is shown.
inline QStringList HiddenInOverflow(QToolBar* bar) {
  QStringList hidden;
  for (QAction* a : bar->actions()) {
    if (!a->isVisible() || a->isSeparator()) continue;
    QWidget* w = bar->widgetForAction(a);
    if (w && !w->isVisible()) hidden << (w->objectName().isEmpty() ? a->text() : w->objectName());
  }
  for (auto* b : bar->findChildren<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"), Qt::FindDirectChildrenOnly))
    if (b->isVisible()) hidden << QStringLiteral("overflow arrow");
  return hidden;
}

}  // namespace qv::app::test
