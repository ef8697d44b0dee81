/* SPDX-License-Identifier: MIT */
/*
 * tavik_export.h - symbol visibility and linkage for the public headers.
 *
 * The library is built with hidden visibility; only declarations marked
 * TAVIK_API are exported from the shared object.  Consumers of the static
 * library see the same declarations and need no definitions of their own.
 */
#ifndef TAVIK_EXPORT_H
#define TAVIK_EXPORT_H

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(TAVIK_BUILDING_SHARED)
#define TAVIK_API __declspec(dllexport)
#elif defined(TAVIK_USING_SHARED)
#define TAVIK_API __declspec(dllimport)
#else
#define TAVIK_API
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define TAVIK_API __attribute__((visibility("default")))
#else
#define TAVIK_API
#endif

#ifdef __cplusplus
#define TAVIK_EXTERN_C_BEGIN extern "C" {
#define TAVIK_EXTERN_C_END }
#else
#define TAVIK_EXTERN_C_BEGIN
#define TAVIK_EXTERN_C_END
#endif

#endif /* TAVIK_EXPORT_H */
