#pragma once
// The default font of new blank faxes and templates (settings "Default Font"), and the command
// that lets the user choose it; shared by the fax editor and the cover sheet template editor.

#include "ui/rich_edit.h"

#include <string>

class QWidget;

namespace qv::app {

struct TSettings;

inline constexpr const char* kDefaultFontDialogName = "FontDialog1";

ui::FontAttributes DefaultFont(const TSettings& settings);

// Gives an empty editor the stored default font.
void ApplyDefaultFont(ui::TQvRichEdit& editor, const TSettings& settings);

// Reads the settings afresh, opens a font dialog preset with the default font and, on OK, makes
// the chosen name, size, bold, italic and underline the default and writes all settings back.
// Text already written keeps its font. True when a new default was stored.
bool ChooseDefaultFont(QWidget* parent, const std::string& iniFile);

}  // namespace qv::app
