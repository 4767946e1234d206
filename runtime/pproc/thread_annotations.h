// Clang's thread-safety attributes, so that the compiler checks which mutex
// guards which field (-Wthread-safety). They expand to nothing under other
// compilers. Use them as leveldb does: GUARDED_BY(mu_) on a field,
// REQUIRES(mu_) on a function that expects the caller to hold it,
// EXCLUDES(mu_) on one that takes it itself.
#ifndef QO_RUNTIME_PPROC_THREAD_ANNOTATIONS_H_
#define QO_RUNTIME_PPROC_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define QO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QO_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) QO_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY QO_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) QO_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) QO_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) QO_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) QO_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) QO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) QO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) \
  QO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) QO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) QO_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) QO_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS \
  QO_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // QO_RUNTIME_PPROC_THREAD_ANNOTATIONS_H_
