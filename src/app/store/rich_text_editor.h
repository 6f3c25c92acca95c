#pragma once
// What the fax store needs of a rich text editor: its whole content as RTF, in and out through a
// file. The word-processing editor implements this; RtfBuffer carries the bytes unchanged for the
// code paths that only move rich text between records and files.

#include <string>

namespace qv::app {

class RichTextEditor {
 public:
  virtual ~RichTextEditor() = default;
  virtual void Clear() = 0;
  // Loads the editor from an RTF file; false when the file cannot be read.
  virtual bool LoadRtfFile(const std::string& path) = 0;
  // Saves the whole content as RTF; false when the file cannot be written.
  virtual bool SaveRtfFile(const std::string& path) = 0;
  // Lays the text out again after a load.
  virtual void Reformat() {}
  // The store could not hand the editor its memo at all (the table cannot read it); the editor
  // stays empty and may remember why.
  virtual void NoteLoadFailure(const std::string& why) { (void)why; }
  virtual bool IsEmpty() const = 0;
};

class RtfBuffer : public RichTextEditor {
 public:
  void Clear() override { rtf_.clear(); }
  bool LoadRtfFile(const std::string& path) override;
  bool SaveRtfFile(const std::string& path) override;
  bool IsEmpty() const override { return rtf_.empty(); }

  const std::string& Rtf() const { return rtf_; }
  void SetRtf(std::string rtf) { rtf_ = std::move(rtf); }

 private:
  std::string rtf_;
};

}  // namespace qv::app
