#include "encoding/schema_seam.hpp"

namespace tavrel::encoding {

Result<std::uint32_t> instance_work(const catalog::Row& row) {
    return instance_work_at(row.fields, 1);
}

Result<std::uint32_t> resolution_work(const catalog::Row& row) {
    std::uint32_t names = 0;
    if (auto r = count_addressable_names(row.fields, 1, names); !r) {
        return std::unexpected(r.error());
    }
    return 16 * names;
}

}  // namespace tavrel::encoding
