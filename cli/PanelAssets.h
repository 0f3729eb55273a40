// The front panel's page and assets, built into the program from cli/panel/.
#pragma once

#include <string_view>

namespace hsimctl {

std::string_view PanelIndex();   // index.html, with @HSIM_TOKEN@ where the token goes
std::string_view PanelScript();  // panel.js
std::string_view PanelStyle();   // panel.css

}  // namespace hsimctl
