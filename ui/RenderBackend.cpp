#include "ui/RenderBackend.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace
{
// What the OpenGL driver calls itself; empty when no context can be made current.
std::string ProbeGlRenderer()
{
    QOpenGLContext context;
    if (!context.create())
        return {};
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return {};
    const auto* text = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    std::string renderer = text ? text : "";
    context.doneCurrent();
    return renderer;
}
} // namespace

bool IsSoftwareGlRenderer(std::string_view renderer)
{
    std::string lower(renderer);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    constexpr std::array<std::string_view, 4> kSoftware{"llvmpipe", "softpipe", "swrast", "software rasterizer"};
    return std::any_of(kSoftware.begin(), kSoftware.end(),
                       [&](std::string_view name) { return lower.find(name) != std::string::npos; });
}

bool ChooseQuickBackend()
{
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QMLSCENE_DEVICE"))
        return false;
    const std::string renderer = ProbeGlRenderer();
    if (!renderer.empty() && !IsSoftwareGlRenderer(renderer))
        return false;
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return true;
}

bool HasGpuRenderNode(const std::string& driFolder)
{
    std::error_code error;
    for (std::filesystem::directory_iterator it(driFolder, error), end; !error && it != end; it.increment(error))
    {
        if (it->path().filename().string().starts_with("renderD"))
            return true;
    }
    return false;
}

std::vector<std::pair<std::string, std::string>> GlEnvironmentFor(bool hasRenderNode, bool userSetIntegration,
                                                                  bool userSetQuickBackend)
{
    if (hasRenderNode || userSetIntegration || userSetQuickBackend)
        return {};
    return {{"QT_XCB_GL_INTEGRATION", "none"}, {"QT_QUICK_BACKEND", "software"}};
}

bool ChooseGlBeforeApplication(const std::string& driFolder)
{
    const auto set = [](const char* name) { return std::getenv(name) != nullptr; };
    const auto environment = GlEnvironmentFor(HasGpuRenderNode(driFolder), set("QT_XCB_GL_INTEGRATION"),
                                              set("QT_QUICK_BACKEND") || set("QMLSCENE_DEVICE"));
    for (const auto& [name, value] : environment)
        ::setenv(name.c_str(), value.c_str(), 0);
    return !environment.empty();
}
