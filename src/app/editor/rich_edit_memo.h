#pragma once
// Lets the fax store's memo routines (LoadRichText/SaveRichText, through "Eraseme.rtf") drive the
// word-processing editor.

#include "app/store/rich_text_editor.h"

#include <QString>

namespace qv::ui {
class TQvRichEdit;
}

namespace qv::app {

class TRichEditMemo : public RichTextEditor {
 public:
  explicit TRichEditMemo(ui::TQvRichEdit& editor) : editor_(editor) {}

  void Clear() override;
  // An empty file is an empty memo and loads as an empty editor. RTF the editor cannot read
  // leaves it empty and is remembered in LoadError().
  bool LoadRtfFile(const std::string& path) override;
  bool SaveRtfFile(const std::string& path) override;
  void Reformat() override;
  bool IsEmpty() const override;
  void NoteLoadFailure(const std::string& why) override;

  // Why the last load failed (the memo could not be read, or its rich text not understood);
  // empty when it succeeded.
  const QString& LoadError() const { return loadError_; }

 private:
  ui::TQvRichEdit& editor_;
  QString loadError_;
};

}  // namespace qv::app
