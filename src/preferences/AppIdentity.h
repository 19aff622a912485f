#pragma once

// Idlewatch's own application identifier: the log prefix, the desktop-file ID and the
// identifier its own process is reported with, so that it never tracks or quits itself.
inline constexpr char kAppIdentifier[] = "com.Idlewatch.Idlewatch";
inline constexpr char kAppDisplayName[] = "Idlewatch";
