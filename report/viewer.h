// Opening the report in the user's web browser.
//
// Windows: the registered open command for web addresses (HKEY_CLASSES_ROOT
// "http\shell\open\command"), or "explorer", composed with the quoted path as
// ComposeBrowserCommand says and started shown, without waiting.
// POSIX: $BROWSER when set (its first entry; "%s" stands for the path, the
// words after it stay), else xdg-open; started without a shell and without
// waiting.
#pragma once

namespace zav {

// False when the browser could not be started.
bool OpenInBrowser(const char* path);

} // namespace zav
