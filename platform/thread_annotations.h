// The attributes of clang's thread-safety analysis (-Wthread-safety): a field says
// which lock guards it, a function which locks it needs or takes, and clang checks
// every access at compile time. Other compilers see nothing; the clang build of
// ./test is the one that checks.
//
//   GUARDED_BY(lock)      a field read or written only while `lock` is held
//   PT_GUARDED_BY(lock)   what a pointer field points to, likewise
//   REQUIRES(lock...)     a function called with the locks held (it keeps them)
//   EXCLUDES(lock...)     a function called without them (it takes them itself)
//   ACQUIRE / RELEASE     a function that takes or gives up a lock and returns
//   TRY_ACQUIRE(ok, ...)  a function that takes a lock when it returns `ok`
//   RETURN_CAPABILITY(l)  a function that hands out lock `l` (an accessor)
//   CAPABILITY(name)      a class that is a lock; SCOPED_CAPABILITY one that holds
//                         a lock for its lifetime
//   NO_THREAD_SAFETY_ANALYSIS  a function the analysis cannot follow; say why
//
// Locks are the types of platform/mutex.h: std::mutex carries no attributes in
// libstdc++, so the analysis would see nothing taken.
#pragma once

#if defined(__clang__)
#define VELKA_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VELKA_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) VELKA_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY VELKA_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) VELKA_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) VELKA_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) VELKA_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) VELKA_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) VELKA_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VELKA_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VELKA_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(x) VELKA_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VELKA_THREAD_ATTRIBUTE(no_thread_safety_analysis)
