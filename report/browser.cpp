#include "report/browser.h"

namespace zav {
namespace {

// Where the quoted path goes into the registered command.
std::size_t InsertionPoint(std::string_view command) {
    if (std::size_t quoted = command.find("\"%1\""); quoted != std::string_view::npos)
        return quoted;
    if (std::size_t bare = command.find("%1"); bare != std::string_view::npos)
        return bare;
    // The character before the last "-"; a "-" in first place has none.
    if (std::size_t dash = command.rfind('-'); dash != std::string_view::npos && dash > 0)
        return dash - 1;
    return command.size();
}

} // namespace

std::optional<std::string> ComposeBrowserCommand(std::optional<std::string_view> registered,
                                                 std::string_view path) {
    std::string_view command = registered ? *registered : kFallbackBrowser;
    std::size_t at = registered ? InsertionPoint(command) : command.size();

    std::string result(command.substr(0, at));
    if (at == 0 || command[at - 1] != ' ')
        result += ' ';
    result += '"';
    result += path;
    result += '"';
    if (result.size() > kBrowserCommandMax)
        return std::nullopt;
    return result;
}

} // namespace zav
