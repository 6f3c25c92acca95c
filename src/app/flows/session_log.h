#pragma once
// The log of one fax session as the user and the Configuration Information report read it:
// "Lastsend.log" for a send attempt, "Lastrec.log" for a period of receive mode. Both are lists of
// lines in which a line equal to the one before is not repeated; saving adds the finish time and
// replaces the file (a failed save is of no consequence to the fax).

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace qv::app {

inline constexpr const char* kSendLogFile = "Lastsend.log";
inline constexpr const char* kReceiveLogFile = "Lastrec.log";

// The date and time as the session logs write them (long formats).
QString LogDateTime(const QDateTime& when);

class TSessionLog {
 public:
  // How a log is written: the file's name in the data directory and how its lines end. The send
  // log has always been written the Windows way (CR LF, the local 8-bit encoding), the receive log
  // as a text file of this system (LF, UTF-8).
  struct Format {
    const char* fileName;
    const char* lineEnd;
    bool utf8;
  };
  static constexpr Format kSend{kSendLogFile, "\r\n", false};
  static constexpr Format kReceive{kReceiveLogFile, "\n", true};

  explicit TSessionLog(const Format& format = kSend) : format_(format) {}

  void Clear();
  // Clears the log and starts it with "Start:" and the current date and time.
  void Begin();
  void Add(const QString& line);
  // Adds "Finish: " with the current date and time and writes the lines to `path`.
  void Save(const std::string& path);
  // The same into the format's file of a data directory (ending in "/").
  void SaveIn(const QString& dataDir);
  const QStringList& Lines() const { return lines_; }
  const Format& LogFormat() const { return format_; }

 private:
  Format format_;
  QStringList lines_;
  QString last_;
};

}  // namespace qv::app
