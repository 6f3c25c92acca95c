#pragma once
// Helpers of the Qt component tests: one application object and small document builders.

#include <QApplication>
#include <string>

#include "rtf/rtf_document.h"

namespace qv::ui::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

inline rtf::Run TextRun(const std::string& text, rtf::CharFormat f = {}) {
  rtf::Run r;
  r.text = text;
  r.format = f;
  return r;
}

inline rtf::Run FieldRun(int kind, const std::string& placeholder, rtf::CharFormat f = {}) {
  rtf::Run r;
  r.kind = rtf::Run::Kind::Field;
  r.field.kind = kind;
  r.field.placeholder = placeholder;
  r.format = f;
  return r;
}

inline rtf::Paragraph Para(std::vector<rtf::Run> runs, rtf::ParaFormat f = {}) {
  rtf::Paragraph p;
  p.runs = std::move(runs);
  p.format = f;
  return p;
}

// Ordinary prose of n words, for pages of text.
inline std::string Words(int n, int seed = 0) {
  static const char* kWords[] = {"fax", "machine", "document", "letter", "invoice", "quarterly",
                                 "report", "meeting", "tomorrow", "morning", "please", "confirm",
                                 "receipt", "of", "the", "attached", "pages", "and", "call", "us",
                                 "with", "any", "questions", "regarding", "delivery", "schedule"};
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kWords[(i * 7 + seed * 3 + i / 5) % (sizeof(kWords) / sizeof(kWords[0]))];
  }
  return s;
}

}  // namespace qv::ui::test
