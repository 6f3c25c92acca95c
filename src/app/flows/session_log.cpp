#include "app/flows/session_log.h"

#include "core/file_util.h"

#include <QLocale>

namespace qv::app {

QString LogDateTime(const QDateTime& when) {
  const QLocale locale = QLocale::system();
  return locale.toString(when.date(), QLocale::LongFormat) + QLatin1Char(' ') +
         locale.toString(when.time(), QLocale::LongFormat);
}

void TSessionLog::Clear() {
  lines_.clear();
  last_.clear();
}

void TSessionLog::Begin() {
  Clear();
  Add(QStringLiteral("Start:") + LogDateTime(QDateTime::currentDateTime()));
}

void TSessionLog::Add(const QString& line) {
  if (!lines_.isEmpty() && line == last_) return;
  lines_ << line;
  last_ = line;
}

void TSessionLog::Save(const std::string& path) {
  Add(QStringLiteral("Finish: ") + LogDateTime(QDateTime::currentDateTime()));
  QString text;
  for (const QString& l : lines_) text += l + QLatin1String(format_.lineEnd);
  const QByteArray bytes = format_.utf8 ? text.toUtf8() : text.toLocal8Bit();
  core::AtomicWriteFile(path, std::string_view(bytes.constData(), size_t(bytes.size())));
}

void TSessionLog::SaveIn(const QString& dataDir) {
  Save((dataDir + QLatin1String(format_.fileName)).toStdString());
}

}  // namespace qv::app
