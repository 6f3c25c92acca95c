#pragma once
// The PAGES fields of both tables are two digits wide: a longer fax is stored as the most they
// hold rather than refused (which would leave the record's count stale or blank).

namespace qv::app {

inline constexpr int kMaxStoredPages = 99;

constexpr int StoredPageCount(int pages) {
  return pages < 0 ? 0 : (pages > kMaxStoredPages ? kMaxStoredPages : pages);
}

}  // namespace qv::app
