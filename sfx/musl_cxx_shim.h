/* musl_cxx_shim.h -- put in front of every file of the Linux self-extractor program.
 * The program is compiled against musl's C headers, but the C++ headers (for templates
 * such as std::unique_ptr and std::array) are Debian's libstdc++ headers, configured for
 * glibc. Some of them mention glibc names in declarations that the program never uses
 * (locale tables, clock-based thread waits, a version test): these give those names a
 * meaning so that the headers compile. Nothing here is called, so nothing of it reaches
 * the program, whose link against musl alone proves that no glibc or libstdc++ code did. */
#ifndef HEDGEROW_MUSL_CXX_SHIM_H
#define HEDGEROW_MUSL_CXX_SHIM_H

#define __GLIBC_PREREQ(major, minor) 0
#define __locale_t locale_t
/* The classification bits glibc's <ctype.h> defines, for std::ctype_base's constants. */
#define _ISupper (1 << 8)
#define _ISlower (1 << 9)
#define _ISalpha (1 << 10)
#define _ISdigit (1 << 11)
#define _ISxdigit (1 << 12)
#define _ISspace (1 << 13)
#define _ISprint (1 << 14)
#define _ISgraph (1 << 15)
#define _ISblank (1 << 0)
#define _IScntrl (1 << 1)
#define _ISpunct (1 << 2)
#define _ISalnum (1 << 3)

#ifdef __cplusplus
#include <pthread.h>
#include <time.h>
extern "C" {
/* glibc's clock-based waits, which std::mutex and friends declare uses of. */
int pthread_cond_clockwait(pthread_cond_t*, pthread_mutex_t*, clockid_t, const struct timespec*);
int pthread_mutex_clocklock(pthread_mutex_t*, clockid_t, const struct timespec*);
int pthread_rwlock_clockrdlock(pthread_rwlock_t*, clockid_t, const struct timespec*);
int pthread_rwlock_clockwrlock(pthread_rwlock_t*, clockid_t, const struct timespec*);
}
#endif

#endif
