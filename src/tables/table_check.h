#pragma once

#include <string>
#include <vector>

namespace qv::tables {

// Checks a table against its files: the DBF header and size, every memo pointer, and every
// tag of the structural compound index compared key by key with what the table holds. The
// files are only read. Returns one line per problem; empty when all agree.
std::vector<std::string> CheckTable(const std::string& dbfPath);

}  // namespace qv::tables
