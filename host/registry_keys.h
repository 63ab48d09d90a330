// Where the program keeps what lasts between runs, under HKEY_CURRENT_USER:
// the capture settings and the chosen port, and beneath them the dialog positions.
#pragma once

namespace zav {

inline constexpr char kSettingsKey[] = "Software\\Tellimar\\VOVEzera\\Settings";
inline constexpr char kPositionsKey[] = "Software\\Tellimar\\VOVEzera\\Settings\\Positions";

} // namespace zav
