#include "jet/table/salvage_item.h"

namespace jet {

std::string SalvageItem::where() const {
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (page) add("página " + std::to_string(*page));
    if (row) add("linha " + std::to_string(*row));
    if (!column.empty()) add("coluna " + column);
    return text;
}

}  // namespace jet
