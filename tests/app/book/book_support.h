#pragma once
// Shared by the phone book and cover sheet tests: a data directory with settings, a stand-in main
// window, and small helpers to find controls and type into them.

#include "app/store/settings.h"
#include "core/ini_file.h"
#include "../test_support.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

namespace qv::app::test {

template <class T>
T* Find(QObject& root, const char* name) {
  return root.findChild<T*>(QString::fromLatin1(name));
}

// Types text as key presses, so the edit reports each keystroke as the user's.
inline void Type(QWidget* edit, const QString& text) {
  for (QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(edit, &press);
  }
}

inline QAction* MenuItem(QMenu* menu, const QString& caption) {
  for (QAction* a : menu->actions())
    if (a->text() == caption) return a;
  return nullptr;
}

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

class BookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    Settings() = TSettings();
    core::TIniFile(SettingsFileName(dir_.StdPath())).WriteInteger("Modem", "ComPort", 0);
    main_.resize(800, 600);
  }
  QApplication& app_ = App();  // before any widget
  DataDir dir_;
  ScriptedDialogs dialogs_;
  QWidget main_;
};

}  // namespace qv::app::test
