#include "app/editor/default_font.h"

#include "app/forms/dialog_service.h"
#include "app/store/settings.h"

#include <QFont>
#include <QFontDialog>

#include <exception>

namespace qv::app {

ui::FontAttributes DefaultFont(const TSettings& settings) {
  ui::FontAttributes font;
  font.name = QString::fromStdString(settings.FontName);
  font.pointSize = settings.FontSize;
  font.bold = settings.FontBold;
  font.italic = settings.FontItalic;
  font.underline = settings.FontUnderline;
  return font;
}

void ApplyDefaultFont(ui::TQvRichEdit& editor, const TSettings& settings) {
  editor.SetDefaultFont(DefaultFont(settings));
}

bool ChooseDefaultFont(QWidget* parent, const std::string& iniFile) {
  TSettings& settings = Settings();
  LoadSettings(settings, iniFile);
  QFont preset(QString::fromStdString(settings.FontName));
  if (settings.FontSize > 0) preset.setPointSize(settings.FontSize);
  preset.setBold(settings.FontBold);
  preset.setItalic(settings.FontItalic);
  preset.setUnderline(settings.FontUnderline);

  QFontDialog dialog(preset, parent);
  dialog.setObjectName(QString::fromLatin1(kDefaultFontDialogName));
  dialog.setAccessibleName(QStringLiteral("Font"));
  // Our own dialog rather than the desktop's, so it behaves the same everywhere and tests can
  // reach its controls.
  dialog.setOption(QFontDialog::DontUseNativeDialog, true);
  if (Dialogs().Exec(&dialog) != QDialog::Accepted) return false;

  const QFont chosen = dialog.currentFont();
  settings.FontName = chosen.family().toStdString();
  if (chosen.pointSize() > 0) settings.FontSize = chosen.pointSize();
  settings.FontBold = chosen.bold();
  settings.FontItalic = chosen.italic();
  settings.FontUnderline = chosen.underline();
  try {
    SaveSettings(settings, iniFile);
  } catch (const std::exception& e) {
    Dialogs().Error(parent, QString::fromLocal8Bit(e.what()));
    return false;
  }
  return true;
}

}  // namespace qv::app
