#pragma once

// The window names the fonts it was designed with (Arial, Tahoma, Trebuchet MS, Maiandra GD,
// Franklin Gothic Medium); a desktop that lacks one falls back to the closest family it has.
// Installed once, before the window is built.
void InstallFontSubstitutes();
