#pragma once

namespace orvane::PreferenceKeys {

inline constexpr const char* RememberMe = "orvane_remember_me";
inline constexpr const char* BiometricLoginEnabled = "orvane_biometric_login_enabled";
inline constexpr const char* BiometricCredentialInKeychain =
    "orvane_biometric_credential_in_keychain";
inline constexpr const char* AccentStyle = "orvane_accent_style";
inline constexpr const char* RingVariant = "orvane_ring_variant";
inline constexpr const char* Density = "orvane_density";
inline constexpr const char* ScreenAwakeWhenTimer = "orvane_screen_awake_when_timer";

} // namespace orvane::PreferenceKeys
