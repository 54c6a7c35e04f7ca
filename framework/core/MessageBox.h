#pragma once

#include <functional>
#include <string>

enum class MbIcon
{
    None,
    Error,
    Warning,
    Information
};

// Modal message box owned by the main window. The window layer installs the real one; tests
// install their own to see what the user would have been told.
using MessageBoxHandler =
    std::function<void(const std::wstring& text, const std::wstring& caption, MbIcon icon)>;

// Returns the handler that was installed before.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
void ShowMessageBox(const std::wstring& text, const std::wstring& caption, MbIcon icon);
