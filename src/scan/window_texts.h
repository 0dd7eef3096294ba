#pragma once

namespace veldrano {

// Texts the driver and the window both show.
inline constexpr const char* IdleCaption = "Drag'n drop directories here...";
inline constexpr const char* ReadyText = "Ready!";

}  // namespace veldrano
