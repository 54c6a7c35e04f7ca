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
