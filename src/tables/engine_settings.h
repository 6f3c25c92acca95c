#pragma once

#include "tables/expression.h"

namespace qv::tables {

// The engine's global switches (SET DELETED, SET EXACT, ...). Expressions keep a pointer to
// `expr`, so a change is seen by every compiled expression at once.
struct EngineSettings {
  bool deleted = false;  // hide records marked deleted from navigation
  bool softSeek = false;
  int lockTimeout = 1;
  int memoBlockSize = 64;
  ExprSettings expr;
};

}  // namespace qv::tables
