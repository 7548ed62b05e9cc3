// Escaping of texts that come from outside (paths, configuration texts) for line-based output.
#pragma once

#include <string>

namespace sonara_cli {

// Control characters (below 0x20 and 0x7f) become \xHH and a backslash becomes \\, so one
// record stays on one line and the original bytes can be recovered. Other bytes are kept.
std::string escape_control(const std::string &text);

}  // namespace sonara_cli
