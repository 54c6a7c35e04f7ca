#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// True for OpenGL renderers that rasterise on the CPU (Mesa's llvmpipe, softpipe, swrast), as in
// virtual machines, remote desktops and X servers without a GPU.
bool IsSoftwareGlRenderer(std::string_view renderer);

// The web map makes the whole window composite through Qt Quick. Where OpenGL would itself be
// drawn by the CPU, or is missing, Qt Quick's own software renderer does the same work for a
// fraction of the cost. A QT_QUICK_BACKEND the user set is kept. Call once the QApplication
// exists and before the first window is created. Returns true when software was chosen.
bool ChooseQuickBackend();

// A GPU's render node (renderD*) in `driFolder`: without one, every OpenGL context is drawn by
// the CPU, and merely loading the driver costs the process some 50 MiB.
bool HasGpuRenderNode(const std::string& driFolder);

// The environment to set before the QApplication exists. With no GPU: no GL integration for
// the window system and Qt Quick's software renderer, so no context is ever made; nothing when
// there is a GPU (ChooseQuickBackend then probes it), or when the user set either variable.
std::vector<std::pair<std::string, std::string>> GlEnvironmentFor(bool hasRenderNode, bool userSetIntegration,
                                                                  bool userSetQuickBackend);

// Applies GlEnvironmentFor to this process for the render nodes of `driFolder`. Call before the
// QApplication is created. Returns true when the GL driver was kept out.
bool ChooseGlBeforeApplication(const std::string& driFolder = "/dev/dri");
