#pragma once
// The merge fields a cover sheet may hold; the fax editor shows them, sending fills them in.

namespace qv::app {

// Merge field kinds a cover sheet may hold.
enum MergeFieldKind { kFieldRecipient = 1, kFieldFaxNumber, kFieldSubject, kFieldDate, kFieldTime };

}  // namespace qv::app
