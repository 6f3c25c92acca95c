#pragma once
// The merge fields a cover sheet may hold; the fax editor shows them, sending fills them in.

namespace qv::app {

// Merge field kinds a cover sheet may hold.
enum MergeFieldKind { kFieldRecipient = 1, kFieldFaxNumber, kFieldSubject, kFieldDate, kFieldTime };
// Not a merge field: the note in an outgoing fax's document that names its attached pages
// (reply_fax.h). It has no value; the editor shows its text, sending appends the pages.
inline constexpr int kFieldAttachment = 6;

}  // namespace qv::app
