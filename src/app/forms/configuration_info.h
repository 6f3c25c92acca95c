#pragma once
// The configuration report: what the program, this machine, its serial devices and the settings
// look like, to copy into a support request or save as text.

#include <QDialog>
#include <QStringList>

#include <string>

class QPlainTextEdit;

namespace qv::comm {
class TQvComPort;
}

namespace qv::app {

// This machine in the report's labelled lines (system and kernel, processor, screen, fonts,
// memory, language, country, date and time formats).
QStringList SystemInformationLines();
// Each serial device found, the COM number that leads to it and what answers on it (each device
// is opened, given the settle pause and asked "AT": at most about 2.7 seconds a device).
QStringList SerialDeviceLines(const std::string& iniFile);
// The whole report the main window shows.
QStringList ConfigurationReport(const QString& dataDir, const std::string& iniFile);

class TConfigurationInfo : public QDialog {
  Q_OBJECT
 public:
  // dataDir ends in "/": where "Save As..." starts.
  explicit TConfigurationInfo(const QString& dataDir, QWidget* parent = nullptr);
  void AddLines(const QStringList& lines);
  QStringList Lines() const;

 public slots:
  void CopyToClipboardClick();
  void SaveAsClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString dataDir_;
  QPlainTextEdit* memo_ = nullptr;
};

// Builds the report with the hourglass showing and shows it centred over mainWindow.
void ShowConfigurationInfo(QWidget* mainWindow, const QString& dataDir, const std::string& iniFile);

}  // namespace qv::app
