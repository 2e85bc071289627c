// Whether this build runs under the address or thread sanitizer, whose runtimes need a
// little more of the system than the program does (see AllowedCalls and EnterCage).
// Never true in a build that is shipped.
#pragma once

namespace harvix {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizerBuild = true;
#else
inline constexpr bool kSanitizerBuild = false;
#endif
#else
inline constexpr bool kSanitizerBuild = false;
#endif

} // namespace harvix
