#pragma once
// Edits for the tables' character fields: what an edit shows is what its field can store.

#include <cstddef>

class QLineEdit;

namespace qv::app {

// Limits an edit to what a field of `bytes` bytes of UTF-8 holds: typed, pasted and set text
// alike is cut at a character boundary (FitField), never inside a character.
void LimitToField(QLineEdit* edit, size_t bytes);

}  // namespace qv::app
