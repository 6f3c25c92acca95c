#pragma once

#include <string>
#include <string_view>

#include "faximage/page_marks.h"

namespace qv::faximage {

// The marks file of a fax: beside it, with the same base name and the extension QVM (lower case
// when the fax's own extension is lower case). UTF-8 text, one line per entry, LF (CR LF is read
// too), fields separated by spaces or tabs:
//
//   QVMARKS 1                                   header: the format and its version, first line
//   # ...                                       comment; blank lines are skipped
//   rotate PAGE DEGREES                         0, 90, 180 or 270, clockwise
//   pen PAGE WIDTH X,Y X,Y ...                  freehand stroke
//   highlight PAGE WIDTH X,Y X,Y ...
//   text PAGE X Y SIZE FONT TEXT                FONT and TEXT percent-encoded (below)
//   stamp PAGE X Y SIZE FONT TEXT
//   check PAGE X Y W H
//   whiteout PAGE X Y W H
//   signature PAGE X Y W H PW PH HEX            a PW x PH picture, rows of (PW + 7) / 8 bytes,
//                                               1 = black, first pixel in the high bit, as hex
//
// PAGE counts from 1; positions and sizes are page units (see page_marks.h). Marks are drawn in
// the order of the file. In FONT and TEXT every byte below 0x21, 0x7F and '%' is written %XX
// (a line break in a text is %0A), so a field never holds a space. A reader of version 1 refuses
// a file of a later version rather than dropping what it does not know.
inline constexpr std::string_view kMarksMagic = "QVMARKS";
inline constexpr int kMarksVersion = 1;
inline constexpr size_t kMarksMaxFileBytes = size_t{64} << 20;

struct MarksError {
  int line = 0;  // 1-based; 0 when the file as a whole is at fault
  std::string message;
  // "line 7: unknown mark "blot"" or the message alone.
  std::string Describe() const;
};

// Parses a marks file's text; false with the first fault in error (out is then left empty).
bool ParseMarks(std::string_view text, FaxMarks& out, MarksError& error);
// The text of a marks file; ParseMarks of it gives marks equal to these (text and font are kept
// byte for byte, picture bits past the width are written clear).
std::string FormatMarks(const FaxMarks& marks);

// The marks file that belongs to a fax file.
std::string MarksFileName(const std::string& faxFile);

enum class MarksLoad {
  None,      // no marks file: the fax has no marks
  Loaded,
  Damaged,   // the file is there but is not a marks file we can read: see error
};
// Reads the marks file of a fax. A damaged or unreadable file leaves marks empty, so the caller
// can still show the fax (and says why there are no marks).
MarksLoad LoadMarks(const std::string& faxFile, FaxMarks& marks, MarksError& error);

// Writes the marks beside the fax, atomically (a crash or a full disk leaves the old file or the
// new one, never half of one); no marks and no rotation removes the file. False with errno when
// it could not be written or removed.
bool SaveMarks(const std::string& faxFile, const FaxMarks& marks);

// Removes the marks file of a fax (for deleting the fax); true when there is none afterwards.
bool RemoveMarks(const std::string& faxFile);

}  // namespace qv::faximage
