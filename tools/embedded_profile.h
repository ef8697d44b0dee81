// SPDX-License-Identifier: MIT
// embedded_profile.h - the default profile compiled into the program.
#ifndef TAVIK_EMBEDDED_PROFILE_H
#define TAVIK_EMBEDDED_PROFILE_H

#include <span>

namespace tavik::cli {

// The bytes of the profile embedded at build time; empty when the build
// had none.
std::span<const unsigned char> embedded_profile();

}  // namespace tavik::cli

#endif  // TAVIK_EMBEDDED_PROFILE_H
