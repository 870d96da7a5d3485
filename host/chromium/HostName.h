// The names Chromium and the extension know the host by: the native
// messaging host's name, the extension's fixed id (derived from the public
// key in its manifest) and the one origin allowed to start the host.
// Constants only; shared by the host and its installer.
#pragma once

namespace ostrel::chromium {

inline constexpr char kHostName[] = "org.ostrel.antiphish";
inline constexpr char kHostDescription[] = "Ostrel anti-phishing filter for Chromium";
inline constexpr char kHostProgram[] = "ostrel-chromium-host";
// The build copies the extension beside the host, under this name.
inline constexpr char kExtensionFolder[] = "chromium-extension";
inline constexpr char kExtensionId[] = "kkbbcamifbbpgpliadehmfpboejmedcg";
inline constexpr char kAllowedOrigin[] = "chrome-extension://kkbbcamifbbpgpliadehmfpboejmedcg/";

// Either direction: a message longer than this is an error.
inline constexpr unsigned long kMaxMessageBytes = 1024 * 1024;

}  // namespace ostrel::chromium
