// The generated row table, as the lookup sees it. Only the catalogue's own sources include this;
// everyone else goes through rows() and find() in schema.hpp.
#pragma once

#include "catalog/schema.hpp"

namespace tavrel::catalog::detail {

// Every row, strictly ascending by id; defined in the generated source.
extern constinit const Slice<Row> kTable;

}  // namespace tavrel::catalog::detail
