// The names the browsers and the extensions know the host by: the native
// messaging host's name, the Chromium extension's fixed id (derived from
// the public key in its manifest) and the one origin allowed to start the
// host there, and the Firefox add-on's id.
// Constants only; shared by the host and its installer.
#pragma once

namespace ostrel::webext {

inline constexpr char kHostName[] = "org.ostrel.antiphish";
inline constexpr char kHostDescription[] = "Ostrel anti-phishing filter for Chromium and Firefox";
inline constexpr char kHostProgram[] = "ostrel-webext-host";
inline constexpr char kExtensionId[] = "kkbbcamifbbpgpliadehmfpboejmedcg";
inline constexpr char kAllowedOrigin[] = "chrome-extension://kkbbcamifbbpgpliadehmfpboejmedcg/";
// Firefox's add-on id (its manifest's browser_specific_settings name it too).
inline constexpr char kFirefoxAddonId[] = "antiphish@ostrel.org";

// Either direction: a message longer than this is an error.
inline constexpr unsigned long kMaxMessageBytes = 1024 * 1024;

}  // namespace ostrel::webext
