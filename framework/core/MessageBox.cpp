#include "framework/core/MessageBox.h"

#include <utility>

namespace
{
MessageBoxHandler& Handler()
{
    static MessageBoxHandler handler;
    return handler;
}
} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}

void ShowMessageBox(const std::wstring& text, const std::wstring& caption, MbIcon icon)
{
    if (Handler())
        Handler()(text, caption, icon);
}
