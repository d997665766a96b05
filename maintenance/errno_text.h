#pragma once

#include <string>

namespace maintenance {

// Portuguese wording of a system error number, for the descriptions the user may
// see. Unknown numbers get a generic text that still carries the number.
std::string errnoText(int errnoValue);

}  // namespace maintenance
