#pragma once
// A signature taken from a picture file (a scan or a photo of a signature, or a PNG with a
// transparent background) as the bilevel picture a signature mark carries.

#include <QString>

#include "faximage/page_marks.h"

namespace qv::ui {

// Reads any picture Qt reads; the ink is what is opaque and dark (see PictureFromGreyAlpha). An
// empty picture and `error` set when the file cannot be read, is larger than a signature may be,
// or holds no ink.
qv::faximage::MarkPicture SignatureFromPictureFile(const QString& file, QString* error = nullptr);

}  // namespace qv::ui
