#pragma once

#include <string_view>

// True for OpenGL renderers that rasterise on the CPU (Mesa's llvmpipe, softpipe, swrast), as in
// virtual machines, remote desktops and X servers without a GPU.
bool IsSoftwareGlRenderer(std::string_view renderer);

// The web map makes the whole window composite through Qt Quick. Where OpenGL would itself be
// drawn by the CPU, or is missing, Qt Quick's own software renderer does the same work for a
// fraction of the cost. A QT_QUICK_BACKEND the user set is kept. Call once the QApplication
// exists and before the first window is created. Returns true when software was chosen.
bool ChooseQuickBackend();
